// Builds small recordings for the tests and reads their values back.
#pragma once

#include <cstring>
#include <vector>

#include "audio/AudioDocument.h"

namespace notavox::testing {

inline AudioDocument Make8(const std::vector<int>& values, bool stereo, int32_t rate = 10) {
    AudioDocument doc;
    SampleBlock block = allocateBlock(values.size());
    for (size_t i = 0; i < values.size(); ++i) block[i] = uint8_t(values[i]);
    doc.replace(std::move(block), int32_t(values.size()), rate, stereo, false);
    return doc;
}

inline AudioDocument Make16(const std::vector<int>& values, bool stereo, int32_t rate = 10) {
    AudioDocument doc;
    SampleBlock block = allocateBlock(values.size() * 2);
    for (size_t i = 0; i < values.size(); ++i) {
        const int16_t s = int16_t(values[i]);
        std::memcpy(block.get() + 2 * i, &s, 2);
    }
    doc.replace(std::move(block), int32_t(values.size() * 2), rate, stereo, true);
    return doc;
}

// The stored sample values (8-bit bytes or signed 16-bit words).
inline std::vector<int> Values(const AudioDocument& doc) {
    std::vector<int> out;
    for (int32_t i = 0; i < doc.sampleCount(); ++i) {
        if (doc.sixteenBit) {
            int16_t s;
            std::memcpy(&s, doc.sampleData.get() + 2 * i, 2);
            out.push_back(s);
        } else {
            out.push_back(doc.sampleData[i]);
        }
    }
    return out;
}

inline void Select(AudioDocument& doc, int32_t start, int32_t end) {
    doc.selectionStart = start;
    doc.selectionEnd = end;
}

}  // namespace notavox::testing
