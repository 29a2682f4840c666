// Found notes into the song and the MIDI file, with the same layout as the
// conversion of "Speichern als MID...": 16 tracks, division 500 (a tick is a
// millisecond), the notes in track 0 as note-on and note-off pairs on channel
// pitch mod 8, both with the note's velocity; at one instant the note-offs
// come first; track 0 ends with its end of track; tracks 1..15 keep their
// program change.
#pragma once

#include <string>
#include <vector>

#include "transcription/NoteList.h"
#include "transcription/TranscribedNote.h"

namespace notavox::recognition {

// Replaces track 0 of `song` (a fresh song) by the notes.
void PutNotesInSong(const std::vector<TranscribedNote>& notes, Song& song);

// Writes the notes as a MIDI file; false when it could not be written (an
// old file of the name is then untouched).
bool WriteNotesAsMIDI(const std::vector<TranscribedNote>& notes, const std::string& fileName);

}  // namespace notavox::recognition
