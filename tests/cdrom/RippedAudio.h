// What a read from the simulated drive must leave in the recording.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "audio/AudioDocument.h"
#include "cdrom/SimulatedDrive.h"

namespace notavox::testing {

// The recording is CD audio (44.1 kHz 16-bit stereo) and holds exactly the
// `blocks` sectors from `firstLba` on, each channel (l - r) * 2 / 3 when
// `karaoke`.
inline ::testing::AssertionResult holdsAudio(const AudioDocument& doc, uint32_t firstLba, uint32_t blocks,
                                             bool karaoke = false) {
    if (doc.sampleRate != 44100 || !doc.stereo || !doc.sixteenBit)
        return ::testing::AssertionFailure() << "not CD audio: " << doc.sampleRate << " Hz, stereo " << doc.stereo
                                             << ", 16 bit " << doc.sixteenBit;
    if (doc.byteCount != static_cast<int32_t>(blocks * 2352))
        return ::testing::AssertionFailure() << "byteCount " << doc.byteCount << ", expected " << blocks * 2352;
    const uint8_t* p = doc.sampleData.get();
    for (uint64_t f = 0; f < uint64_t{blocks} * 588; ++f) {
        const uint64_t frame = uint64_t{firstLba} * 588 + f;
        int32_t l = SimulatedDrive::leftSample(frame), r = SimulatedDrive::rightSample(frame);
        if (karaoke) l = r = std::clamp((l - r) * 2 / 3, -32768, 32767);
        const auto gotL = static_cast<int16_t>(p[4 * f] | (p[4 * f + 1] << 8));
        const auto gotR = static_cast<int16_t>(p[4 * f + 2] | (p[4 * f + 3] << 8));
        if (gotL != l || gotR != r) return ::testing::AssertionFailure() << "frame " << f << " differs";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace notavox::testing
