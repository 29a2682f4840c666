#include <gtest/gtest.h>

#include "codecs/Mp3Frame.h"

using namespace notavox;

TEST(Mp3Frame, CommonMpeg1LayerIIIHeader) {
    const uint8_t h[4] = {0xFF, 0xFB, 0x90, 0x64};
    ASSERT_TRUE(IsValidMp3FrameHeader(h));
    const Mp3FrameHeader f = ParseMp3FrameHeader(h);
    EXPECT_EQ(f.version, 3);
    EXPECT_EQ(f.layer, 1);
    EXPECT_EQ(f.channelMode, 1);
    EXPECT_EQ(Mp3SampleRate(f), 44100);
    EXPECT_EQ(Mp3BitRate(f), 128);
    EXPECT_EQ(Mp3FrameLength(h), 417);
}

TEST(Mp3Frame, ValidityTestRejectsReservedFieldsButNotTheVersion) {
    const uint8_t noSync[4] = {0xFE, 0xFB, 0x90, 0x64};
    const uint8_t weakSync[4] = {0xFF, 0xDB, 0x90, 0x64};
    const uint8_t layer0[4] = {0xFF, 0xF9, 0x90, 0x64};
    const uint8_t bitrate15[4] = {0xFF, 0xFB, 0xF0, 0x64};
    const uint8_t rate3[4] = {0xFF, 0xFB, 0x9C, 0x64};
    const uint8_t reservedVersion[4] = {0xFF, 0xEB, 0x90, 0x64};
    EXPECT_FALSE(IsValidMp3FrameHeader(noSync));
    EXPECT_FALSE(IsValidMp3FrameHeader(weakSync));
    EXPECT_FALSE(IsValidMp3FrameHeader(layer0));
    EXPECT_FALSE(IsValidMp3FrameHeader(bitrate15));
    EXPECT_FALSE(IsValidMp3FrameHeader(rate3));
    EXPECT_TRUE(IsValidMp3FrameHeader(reservedVersion));
    // A frame of the reserved version or of free format has no length to follow.
    const uint8_t freeFormat[4] = {0xFF, 0xFB, 0x00, 0x64};
    EXPECT_EQ(Mp3FrameLength(reservedVersion), 0);
    EXPECT_EQ(Mp3FrameLength(freeFormat), 0);
    EXPECT_EQ(Mp3FrameLength(rate3), 0);
}

TEST(Mp3Frame, SampleRatesByVersion) {
    const int versions[3] = {3, 2, 0};
    const int32_t expected[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    for (int v = 0; v < 3; ++v)
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Mp3SampleRate({.version = versions[v], .sampleRateIndex = i}), expected[v][i]) << v << " " << i;
}

// Bit rates and frame lengths of each version and layer: MPEG-1 Layer III
// 144 bytes per kbit/s and kHz, Layer I four-byte slots, MPEG-2 Layer III half.
TEST(Mp3Frame, BitRatesAndFrameLengths) {
    struct Case {
        uint8_t h[4];
        int32_t bitRate, length;
    };
    const Case cases[] = {
        {{0xFF, 0xFB, 0xE2, 0xC4}, 320, 1045},  // MPEG-1 III, 44100 Hz, padded
        {{0xFF, 0xFD, 0xE0, 0x00}, 384, 1253},  // MPEG-1 II, 44100 Hz
        {{0xFF, 0xFF, 0xE0, 0x00}, 448, 484},   // MPEG-1 I, 44100 Hz
        {{0xFF, 0xF3, 0xE0, 0x00}, 160, 522},   // MPEG-2 III, 22050 Hz
        {{0xFF, 0xF5, 0xE0, 0x00}, 160, 1044},  // MPEG-2 II, 22050 Hz
        {{0xFF, 0xF7, 0xE0, 0x00}, 256, 556},   // MPEG-2 I, 22050 Hz
        {{0xFF, 0xE2, 0x18, 0xC0}, 8, 72},      // MPEG-2.5 III, 8000 Hz
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Mp3BitRate(ParseMp3FrameHeader(c.h)), c.bitRate) << int(c.h[1]);
        EXPECT_EQ(Mp3FrameLength(c.h), c.length) << int(c.h[1]);
    }
}
