#include "recognition/NoteWriter.h"

#include <algorithm>
#include <cmath>

#include "transcription/MidiFile.h"

namespace notavox::recognition {

namespace {

uint32_t milliseconds(double seconds) { return seconds <= 0 ? 0u : uint32_t(std::llround(seconds * 1000.0)); }

}  // namespace

void PutNotesInSong(const std::vector<TranscribedNote>& notes, Song& song) {
    std::vector<TranscribedNote> ordered;
    for (const TranscribedNote& n : notes)
        if (n.pitch >= 0 && n.pitch <= 127) ordered.push_back(n);
    std::stable_sort(ordered.begin(), ordered.end(), [](const TranscribedNote& a, const TranscribedNote& b) {
        return a.onset != b.onset ? a.onset < b.onset : a.pitch < b.pitch;
    });
    // As the track assembly does it: the note-ons in order, then the note-offs
    // in the reverse order of their note-ons, numbered; sorted by time, equal
    // times by descending number.
    const size_t n = ordered.size();
    std::vector<NoteEvent> all(2 * n);
    for (size_t i = 0; i < n; ++i) {
        const TranscribedNote& note = ordered[i];
        const int velocity = std::clamp(note.velocity, 1, 127);
        const uint32_t on = milliseconds(note.onset);
        const uint32_t off = std::max(on, milliseconds(note.offset));
        all[i] = MakeNoteEvent(kNoteOn, note.pitch, velocity, on);
        all[2 * n - 1 - i] = MakeNoteEvent(kNoteOff, note.pitch, velocity, off);
    }
    WriteTrackZero(song, all);
}

bool WriteNotesAsMIDI(const std::vector<TranscribedNote>& notes, const std::string& fileName) {
    Song song;
    PutNotesInSong(notes, song);
    return SaveAsMIDI(song, fileName);
}

}  // namespace notavox::recognition
