#include <cmath>

#include <gtest/gtest.h>

#include "transcription/Spectrum.h"

using namespace notavox;

TEST(NoteFrequency, StatedValues) {
    const auto f = BuildNoteFrequency();
    EXPECT_EQ(f[69], 440.0);
    EXPECT_EQ(f[24], 32.70625);
    EXPECT_EQ(f[23], 30.86875);
    EXPECT_EQ(f[127], 12544.0);
    EXPECT_EQ(f[0], 8.1765625);
    EXPECT_EQ(f[60], 261.65);
    for (int n = 0; n < 12; ++n) EXPECT_EQ(f[size_t(24 + n)], baseFrequency[size_t(n)]);
    for (int n = 12; n < 128; ++n) EXPECT_EQ(f[size_t(n)], 2 * f[size_t(n - 12)]);
}

TEST(BinToNote, Rows44100) {
    const auto map = BuildBinToNote(44100, BuildNoteFrequency());
    EXPECT_EQ(map[0], -1);
    EXPECT_EQ(map[1], 29);
    EXPECT_EQ(map[2], 41);
    EXPECT_EQ(map[3], 48);
    EXPECT_EQ(map[10], 69);
    EXPECT_EQ(map[11], 70);
    EXPECT_EQ(map[283], 126);
    int count127 = 0;
    for (int j = 284; j < 512; ++j) {
        EXPECT_EQ(map[size_t(j)], 127) << j;
        ++count127;
    }
    EXPECT_EQ(count127, 228);
    for (int j = 2; j < 512; ++j) EXPECT_GE(map[size_t(j)], map[size_t(j - 1)]);
}

TEST(BinToNote, Rows22050) {
    const auto map = BuildBinToNote(22050, BuildNoteFrequency());
    EXPECT_EQ(map[0], -1);
    EXPECT_EQ(map[1], -1);
    EXPECT_EQ(map[2], 29);
    EXPECT_EQ(map[511], 125);
}

TEST(BinToNote, BoundsAndTies) {
    const auto f = BuildNoteFrequency();
    // Bin 1 at 32256 Hz lies on exactly 31.5 Hz and is mapped; bin 1 at
    // 51380224 Hz lies on exactly 50176 Hz and is not.
    EXPECT_NE(BuildBinToNote(32256, f)[1], -1);
    EXPECT_EQ(BuildBinToNote(32256, f)[1], 23);
    EXPECT_EQ(BuildBinToNote(51380224, f)[1], -1);
    // At a rate of 1024 Hz bin j lies on j Hz; a table of our own puts bin
    // 100 exactly between two notes, and the lower one wins.
    NoteFrequencyTable t{};
    for (int n = 0; n < 128; ++n) t[size_t(n)] = 100000.0 + n;
    t[40] = 99.0;
    t[41] = 101.0;
    EXPECT_EQ(BuildBinToNote(1024, t)[100], 40);
    EXPECT_EQ(BuildBinToNote(0, f)[5], -1);
    EXPECT_EQ(BuildBinToNote(-44100, f)[5], -1);
}
