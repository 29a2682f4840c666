// Helpers shared by the transcription tests.
#pragma once

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/Files.h"
#include "support/TempDir.h"
#include "transcription/NoteList.h"

namespace notavox::testing {

inline NoteEvent detection(int32_t window, uint8_t note, uint8_t velocity, uint32_t time, uint32_t duration) {
    NoteEvent e = MakeNoteEvent(kNoteOn, note, velocity, time);
    e.duration = duration;
    e.window = window;
    return e;
}

// A meta event of `type` holding `text` at `time`; a text of more than 4
// bytes in a block of its own (freed with the track).
inline NoteEvent metaText(uint8_t type, const std::string& text, uint32_t time) {
    NoteEvent e;
    std::memset(&e, 0, sizeof e);
    e.kind = kMetaEvent;
    e.metaType = type;
    e.dataLength = uint8_t(text.size());
    if (text.size() > 4) e.data.block = static_cast<uint8_t*>(std::malloc(text.size()));
    std::memcpy(e.dataLength > 4 ? e.data.block : e.data.bytes, text.data(), text.size());
    e.time = time;
    return e;
}

inline void append(TDynaArray& list, const NoteEvent& e) { std::memcpy(list.Append(), &e, sizeof e); }

inline std::vector<NoteEvent> events(const TDynaArray& list) {
    std::vector<NoteEvent> v(size_t(list.count()));
    if (list.count()) std::memcpy(v.data(), list.data(), v.size() * sizeof(NoteEvent));
    return v;
}

// Compares the fields that make up an event (not the padding).
inline bool sameEvent(const NoteEvent& a, const NoteEvent& b) {
    if (a.kind != b.kind || a.metaType != b.metaType || a.channel != b.channel || a.dataLength != b.dataLength ||
        a.time != b.time || a.window != b.window)
        return false;
    if (a.dataLength > 4) return std::memcmp(a.data.block, b.data.block, a.dataLength) == 0;
    return std::memcmp(a.data.bytes, b.data.bytes, 4) == 0;
}

inline std::string describe(const NoteEvent& e) {
    return "kind " + std::to_string(e.kind) + " ch " + std::to_string(e.channel) + " time " + std::to_string(e.time) +
           " note " + std::to_string(e.data.bytes[0]) + " vel " + std::to_string(e.data.bytes[1]) + " win " +
           std::to_string(e.window);
}

}  // namespace notavox::testing
