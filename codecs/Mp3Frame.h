// MPEG audio frame headers: the validity test of the frame search, the fields
// and what follows from them (sample rate, bit rate, frame length).
#pragma once

#include <cstdint>

namespace notavox {

// Layer III bit rates in kbit/s, indices 1 to 14 of the standard's tables.
inline constexpr int32_t kMpeg1LayerIIIBitRates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
inline constexpr int32_t kMpeg2LayerIIIBitRates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
// The entries of the "MP3 Ausgabe" lists and their start-up choices.
inline constexpr int32_t kMp3OutputRates[] = {48000, 44100, 32000, 24000, 22050, 16000, 11025};
inline constexpr const auto& kMp3BitRates = kMpeg2LayerIIIBitRates;
inline constexpr int32_t kDefaultMp3OutputRate = 44100;
inline constexpr int32_t kDefaultMp3BitRate = 128;

struct Mp3FrameHeader {
    int version = 0;          // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
    int layer = 0;            // 1 Layer III, 2 Layer II, 3 Layer I, 0 reserved
    bool protection = false;  // a CRC follows the header
    int bitrateIndex = 0;
    int sampleRateIndex = 0;
    bool padding = false;
    bool privateBit = false;
    int channelMode = 0;      // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    bool copyright = false;
    bool original = false;
    int emphasis = 0;
};

// Splits four header bytes into their fields; no test is made.
inline Mp3FrameHeader ParseMp3FrameHeader(const uint8_t h[4]) {
    return {.version = (h[1] >> 3) & 3, .layer = (h[1] >> 1) & 3, .protection = (h[1] & 1) == 0,
            .bitrateIndex = h[2] >> 4, .sampleRateIndex = (h[2] >> 2) & 3, .padding = (h[2] & 2) != 0,
            .privateBit = (h[2] & 1) != 0, .channelMode = h[3] >> 6, .copyright = (h[3] & 8) != 0,
            .original = (h[3] & 4) != 0, .emphasis = h[3] & 3};
}

// The frame search's test: sync, a layer other than 0, a bit-rate index
// below 15 and a sample-rate index below 3. The version is not tested.
inline bool IsValidMp3FrameHeader(const uint8_t h[4]) {
    return h[0] == 0xFF && (h[1] & 0xE0) == 0xE0 && (h[1] & 0x06) != 0 && (h[2] >> 4) < 15 && ((h[2] >> 2) & 3) < 3;
}

// Hz; the reserved version counts as MPEG-1, the reserved index 3 gives 0.
inline int32_t Mp3SampleRate(int version, int sampleRateIndex) {
    static constexpr int32_t kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    if (sampleRateIndex < 0 || sampleRateIndex > 2) return 0;
    return kRates[version == 2 ? 1 : version == 0 ? 2 : 0][sampleRateIndex];
}

// kbit/s from the standard's table for the version and layer. Index 0 (free
// format) and 15 count as 1; a layer of 0 gives 8.
inline int32_t Mp3BitRate(int version, int layer, int bitrateIndex) {
    static constexpr int32_t kMpeg1LayerI[] = {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448};
    static constexpr int32_t kMpeg1LayerII[] = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    static constexpr int32_t kMpeg2LayerI[] = {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256};
    if (layer < 1 || layer > 3) return 8;
    const int i = (bitrateIndex == 0 || bitrateIndex >= 15) ? 1 : bitrateIndex;
    if (version == 3 || version == 1)
        return (layer == 1 ? kMpeg1LayerIIIBitRates : layer == 2 ? kMpeg1LayerII : kMpeg1LayerI)[i - 1];
    return (layer == 3 ? kMpeg2LayerI : kMpeg2LayerIIIBitRates)[i - 1];  // Layer II of MPEG-2 is Layer III's table
}

// The length in bytes of the frame that starts with this header, padding
// included; 0 when it cannot be told (free format, reserved values).
inline int32_t Mp3FrameLength(const uint8_t h[4]) {
    const Mp3FrameHeader f = ParseMp3FrameHeader(h);
    if (!IsValidMp3FrameHeader(h) || f.version == 1 || f.bitrateIndex == 0) return 0;
    const int32_t bitRate = Mp3BitRate(f.version, f.layer, f.bitrateIndex) * 1000;
    const int32_t rate = Mp3SampleRate(f.version, f.sampleRateIndex);
    if (f.layer == 3) return (12 * bitRate / rate + f.padding) * 4;                // Layer I
    return (f.layer == 1 && f.version != 3 ? 72 : 144) * bitRate / rate + f.padding;  // half the samples: MPEG-2 III
}

// 1 when the channel mode is 3 (single channel), else 2.
inline int Mp3Channels(int channelMode) { return channelMode == 3 ? 1 : 2; }

}  // namespace notavox
