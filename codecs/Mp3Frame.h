// MPEG audio frame headers: the validity test of the frame search, the fields
// and the stream parameters derived from them (sample rate, bit rate).
#pragma once

#include <cstdint>

namespace notavox {

// The rates of MPEG audio, in one place for the frame parser, the decoder's
// formats, the "MP3 Ausgabe" lists of the window and the converter's options.
// Layer III bit rates in kbit/s, indices 1 to 14 of the standard's tables.
inline constexpr int32_t kMpeg1LayerIIIBitRates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
inline constexpr int32_t kMpeg2LayerIIIBitRates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
// Every sample rate of MPEG-1, MPEG-2 and MPEG-2.5.
inline constexpr int32_t kMp3StreamRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
// The entries of the "MP3 Ausgabe" lists and their start-up choices.
inline constexpr int32_t kMp3OutputRates[] = {48000, 44100, 32000, 24000, 22050, 16000, 11025};
inline constexpr const auto& kMp3BitRates = kMpeg2LayerIIIBitRates;
inline constexpr int32_t kDefaultMp3OutputRate = 44100;
inline constexpr int32_t kDefaultMp3BitRate = 128;

struct Mp3FrameHeader {
    int version = 0;         // b1 bits 4..3: 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
    int layer = 0;           // b1 bits 2..1: 1 Layer III, 2 Layer II, 3 Layer I, 0 reserved
    bool protection = false; // true when a CRC follows the header (protection bit 0)
    int bitrateIndex = 0;    // b2 bits 7..4
    int sampleRateIndex = 0; // b2 bits 3..2
    bool padding = false;
    bool privateBit = false;
    int channelMode = 0;     // b3 bits 7..6: 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    int modeExtension = 0;
    bool copyright = false;
    bool original = false;
    int emphasis = 0;
};

// Splits four header bytes into their fields; no test is made.
Mp3FrameHeader ParseMp3FrameHeader(const uint8_t h[4]);

// The frame search's test: sync, a layer other than 0, a bit-rate index
// below 15 and a sample-rate index below 3. The version is not tested.
bool IsValidMp3FrameHeader(const uint8_t h[4]);

// Sample rate in Hz by version and sample-rate index; the reserved version
// counts as MPEG-1, the reserved index 3 gives 0.
int32_t Mp3SampleRate(int version, int sampleRateIndex);

// Bit rate in kbit/s from the tables of the MPEG audio standard for the
// version and layer. Index 0 (free format) and 15 are taken as 1; a layer of
// 0 gives 8.
int32_t Mp3BitRate(int version, int layer, int bitrateIndex);

// The length in bytes of the frame that starts with this header, padding
// included; 0 when it cannot be told (free format, reserved values).
int32_t Mp3FrameLength(const uint8_t h[4]);

// 1 when the channel mode is 3 (single channel), else 2.
inline int Mp3Channels(int channelMode) { return channelMode == 3 ? 1 : 2; }

}  // namespace notavox
