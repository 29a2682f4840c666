#include "recognition/NoteWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "transcription/MidiFile.h"

namespace notavox::recognition {

namespace {

NoteEvent noteEvent(uint8_t kind, int pitch, int velocity, uint32_t time) {
    NoteEvent e;
    std::memset(&e, 0, sizeof e);
    e.kind = kind;
    e.channel = uint8_t(pitch % 8);
    e.dataLength = 2;
    e.data.bytes[0] = uint8_t(pitch);
    e.data.bytes[1] = uint8_t(velocity);
    e.time = time;
    return e;
}

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
        all[i] = noteEvent(kNoteOn, note.pitch, velocity, on);
        all[2 * n - 1 - i] = noteEvent(kNoteOff, note.pitch, velocity, off);
    }
    std::vector<uint64_t> keys(all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        const uint32_t number = uint32_t(i + 1);
        keys[i] = (uint64_t(all[i].time) << 32) | uint64_t(0xFFFFFFFFu - number);
    }
    std::sort(keys.begin(), keys.end());

    song.microsPerTick = song.division ? 500000u / song.division : 0;
    TDynaArray* track = song.track(0);
    if (!track) return;
    FreeListData(*track);
    track->Clear();
    std::vector<NoteEvent> out;
    out.reserve(keys.size() + 1);
    uint32_t prev = 0;
    for (uint64_t key : keys) {
        NoteEvent e = all[size_t(0xFFFFFFFFu - uint32_t(key)) - 1];
        const uint32_t delta = DeltaTicks(e.time, prev, song.microsPerTick);
        prev = e.time;
        e.time = delta;
        out.push_back(e);
    }
    NoteEvent endOfTrack;
    std::memset(&endOfTrack, 0, sizeof endOfTrack);
    endOfTrack.kind = kMetaEvent;
    endOfTrack.metaType = kEndOfTrack;
    endOfTrack.channel = 15;
    out.push_back(endOfTrack);
    track->AppendMany(out.data(), int32_t(out.size()));
}

bool WriteNotesAsMIDI(const std::vector<TranscribedNote>& notes, const std::string& fileName) {
    Song song;
    PutNotesInSong(notes, song);
    return SaveAsMIDI(song, fileName);
}

}  // namespace notavox::recognition
