#include <gtest/gtest.h>

#include "codecs/Mp3Frame.h"

using namespace notavox;

TEST(Mp3Frame, CommonMpeg1LayerIIIHeader) {
    const uint8_t h[4] = {0xFF, 0xFB, 0x90, 0x64};
    ASSERT_TRUE(IsValidMp3FrameHeader(h));
    const Mp3FrameHeader f = ParseMp3FrameHeader(h);
    EXPECT_EQ(f.version, 3);
    EXPECT_EQ(f.layer, 1);
    EXPECT_FALSE(f.protection);
    EXPECT_EQ(f.channelMode, 1);
    EXPECT_EQ(Mp3Channels(f.channelMode), 2);
    EXPECT_EQ(Mp3SampleRate(f.version, f.sampleRateIndex), 44100);
    EXPECT_EQ(Mp3BitRate(f.version, f.layer, f.bitrateIndex), 128);
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
}

TEST(Mp3Frame, SampleRatesByVersion) {
    const int32_t expected[4][3] = {{11025, 12000, 8000}, {44100, 48000, 32000}, {22050, 24000, 16000},
                                    {44100, 48000, 32000}};
    for (int v = 0; v < 4; ++v)
        for (int i = 0; i < 3; ++i) EXPECT_EQ(Mp3SampleRate(v, i), expected[v][i]) << v << " " << i;
    EXPECT_EQ(Mp3SampleRate(3, 3), 0);
}

TEST(Mp3Frame, BitRateTables) {
    // Index 0 (free format) and 15 count as index 1.
    EXPECT_EQ(Mp3BitRate(3, 1, 0), 32);
    EXPECT_EQ(Mp3BitRate(3, 1, 15), 32);
    EXPECT_EQ(Mp3BitRate(2, 1, 0), 8);
    EXPECT_EQ(Mp3BitRate(3, 1, 14), 320);
    EXPECT_EQ(Mp3BitRate(3, 2, 14), 384);
    EXPECT_EQ(Mp3BitRate(3, 3, 14), 448);
    EXPECT_EQ(Mp3BitRate(2, 1, 14), 160);
    EXPECT_EQ(Mp3BitRate(0, 1, 9), 80);
    EXPECT_EQ(Mp3BitRate(2, 3, 14), 256);
    EXPECT_EQ(Mp3BitRate(3, 0, 9), 8);  // reserved layer keeps 8
}

TEST(Mp3Frame, HeaderFlags) {
    const uint8_t h[4] = {0xFF, 0xF2, 0x83, 0xCD};  // MPEG-2 III, CRC, private, mono, copyright, emphasis 1
    const Mp3FrameHeader f = ParseMp3FrameHeader(h);
    EXPECT_EQ(f.version, 2);
    EXPECT_TRUE(f.protection);
    EXPECT_TRUE(f.privateBit);
    EXPECT_TRUE(f.padding);
    EXPECT_EQ(f.channelMode, 3);
    EXPECT_EQ(Mp3Channels(f.channelMode), 1);
    EXPECT_TRUE(f.copyright);
    EXPECT_TRUE(f.original);
    EXPECT_EQ(f.emphasis, 1);
}
