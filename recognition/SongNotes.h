// The notes of a song's track read back: each note-on paired with the next
// note-off of its key on its channel. The window shows the notes that
// "Speichern als MID..." wrote this way, without touching its conversion.
#pragma once

#include <vector>

#include "transcription/NoteList.h"
#include "transcription/TranscribedNote.h"

namespace notavox::recognition {

// Times from the track's delta ticks and the song's tick length (a tick is
// a millisecond in the program's songs). A note-on without its note-off
// ends with the track.
std::vector<TranscribedNote> NotesInSong(const Song& song, int32_t track = 0);

}  // namespace notavox::recognition
