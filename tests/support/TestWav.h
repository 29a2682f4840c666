// WAV files of made-up sample bytes for the window's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "audio/WavFile.h"

namespace notavox::testing {

// Writes `bytes` sample bytes, byte i being byteAt(i), as the WAV file
// `name` and returns the name.
inline std::string writeWavOf(const std::string& name, int rate, bool stereo, bool sixteen, size_t bytes,
                              uint8_t (*byteAt)(size_t)) {
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i) data[i] = byteAt(i);
    EXPECT_TRUE(WriteWAVFile(name, data.data(), stereo, sixteen, rate, int32_t(bytes)));
    return name;
}

}  // namespace notavox::testing
