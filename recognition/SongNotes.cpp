#include "recognition/SongNotes.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

namespace notavox::recognition {

std::vector<TranscribedNote> NotesInSong(const Song& song, int32_t trackIndex) {
    std::vector<TranscribedNote> notes;
    const TDynaArray* track = song.track(trackIndex);
    if (!track) return notes;
    const double secondsPerTick = double(song.microsPerTick) * 1e-6;
    std::map<std::pair<int, int>, std::vector<size_t>> open;  // (channel, key) -> notes still sounding
    uint64_t ticks = 0;
    for (int32_t i = 0; i < track->count(); ++i) {
        NoteEvent e;
        std::memcpy(&e, track->element(i), sizeof e);
        ticks += e.time;
        const double t = double(ticks) * secondsPerTick;
        const uint8_t* d = eventData(e);
        if (e.dataLength < 2) continue;
        const int key = d[0] & 0x7F, velocity = d[1] & 0x7F;
        const std::pair<int, int> slot{e.channel, key};
        if (e.kind == kNoteOn && velocity > 0) {
            open[slot].push_back(notes.size());
            notes.push_back(TranscribedNote{key, t, t, velocity});
        } else if (e.kind == kNoteOff || e.kind == kNoteOn) {
            auto it = open.find(slot);
            if (it == open.end() || it->second.empty()) continue;
            notes[it->second.front()].offset = t;
            it->second.erase(it->second.begin());
        }
    }
    const double end = double(ticks) * secondsPerTick;
    for (auto& [slot, list] : open)
        for (size_t k : list) notes[k].offset = end;
    std::stable_sort(notes.begin(), notes.end(),
                     [](const TranscribedNote& a, const TranscribedNote& b) { return a.onset < b.onset; });
    return notes;
}

}  // namespace notavox::recognition
