// MPEG audio frame headers: the test of the frame search and what a header
// says about its stream and the length of its frame.
#pragma once

#include <cstdint>

namespace notavox {

// Layer III bit rates in kbit/s, indices 1 to 14 of the standard's tables.
inline constexpr int32_t kMpeg1LayerIIIBitRates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
inline constexpr int32_t kMpeg2LayerIIIBitRates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

struct Mp3FrameHeader {
    int version = 0;      // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
    int layer = 0;        // 1 Layer III, 2 Layer II, 3 Layer I, 0 reserved
    int bitrateIndex = 0;
    int sampleRateIndex = 0;
    bool padding = false;
    int channelMode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
};

inline Mp3FrameHeader ParseMp3FrameHeader(const uint8_t h[4]) {
    return {.version = (h[1] >> 3) & 3, .layer = (h[1] >> 1) & 3, .bitrateIndex = h[2] >> 4,
            .sampleRateIndex = (h[2] >> 2) & 3, .padding = (h[2] & 2) != 0, .channelMode = h[3] >> 6};
}

// The frame search's test: sync, a layer other than 0, a bit-rate index
// below 15 and a sample-rate index below 3. The version is not tested.
inline bool IsValidMp3FrameHeader(const uint8_t h[4]) {
    return h[0] == 0xFF && (h[1] & 0xE0) == 0xE0 && (h[1] & 0x06) != 0 && (h[2] >> 4) < 15 && ((h[2] >> 2) & 3) < 3;
}

// The rest holds for a header that passed the test, of a version other than
// the reserved one and with a bit-rate index other than 0 (free format).
inline int32_t Mp3SampleRate(const Mp3FrameHeader& f) {
    static constexpr int32_t kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    return kRates[f.version == 2 ? 1 : f.version == 0 ? 2 : 0][f.sampleRateIndex];
}

// kbit/s.
inline int32_t Mp3BitRate(const Mp3FrameHeader& f) {
    static constexpr int32_t kMpeg1LayerI[] = {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448};
    static constexpr int32_t kMpeg1LayerII[] = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    static constexpr int32_t kMpeg2LayerI[] = {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256};
    const int i = f.bitrateIndex - 1;
    if (f.version == 3) return (f.layer == 1 ? kMpeg1LayerIIIBitRates : f.layer == 2 ? kMpeg1LayerII : kMpeg1LayerI)[i];
    return (f.layer == 3 ? kMpeg2LayerI : kMpeg2LayerIIIBitRates)[i];  // Layer II of MPEG-2 is Layer III's table
}

// The length in bytes of the frame that starts with these four bytes,
// padding included; 0 when it is no frame or its length cannot be told.
inline int32_t Mp3FrameLength(const uint8_t h[4]) {
    const Mp3FrameHeader f = ParseMp3FrameHeader(h);
    if (!IsValidMp3FrameHeader(h) || f.version == 1 || f.bitrateIndex == 0) return 0;
    const int32_t bitRate = Mp3BitRate(f) * 1000;
    const int32_t rate = Mp3SampleRate(f);
    if (f.layer == 3) return (12 * bitRate / rate + f.padding) * 4;                // Layer I
    return (f.layer == 1 && f.version != 3 ? 72 : 144) * bitRate / rate + f.padding;  // half the samples: MPEG-2 III
}

}  // namespace notavox
