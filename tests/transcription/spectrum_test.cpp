#include <cmath>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "ReferenceFFT.h"
#include "transcription/Spectrum.h"

using namespace notavox;
using notavox::testing::FFT;

TEST(FFT, ConstantInputGoesToBinZeroOnly) {
    std::vector<double> re(1024, 7.5), im(1024, 0.0);
    EXPECT_EQ(FFT(1, 10, re.data(), im.data()), 1);
    EXPECT_DOUBLE_EQ(re[0], 7.5);
    EXPECT_EQ(im[0], 0.0);
    for (int k = 1; k < 1024; ++k) {
        EXPECT_NEAR(re[k], 0.0, 1e-12) << k;
        EXPECT_NEAR(im[k], 0.0, 1e-12) << k;
    }
}

TEST(FFT, CosineOnBinTenHasHalfTheAmplitude) {
    const double a = 40.0;
    std::vector<double> re(1024), im(1024, 0.0);
    for (int n = 0; n < 1024; ++n) re[size_t(n)] = a * std::cos(2 * M_PI * 10 * n / 1024);
    FFT(1, 10, re.data(), im.data());
    for (int k = 0; k < 1024; ++k) {
        const double mag = std::hypot(re[size_t(k)], im[size_t(k)]);
        if (k == 10 || k == 1014) EXPECT_NEAR(mag, a / 2, 1e-9) << k;
        else EXPECT_NEAR(mag, 0.0, 1e-9) << k;
    }
}

TEST(FFT, SinglePointIsLeftAsItIs) {
    double re = 3.25, im = -1.5;
    EXPECT_EQ(FFT(1, 0, &re, &im), 1);
    EXPECT_EQ(re, 3.25);
    EXPECT_EQ(im, -1.5);
}

TEST(FFT, InverseUndoesForward) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> d(-100, 100);
    std::vector<double> re(256), im(256);
    for (auto& v : re) v = d(rng);
    for (auto& v : im) v = d(rng);
    const auto r0 = re, i0 = im;
    FFT(1, 8, re.data(), im.data());
    FFT(0, 8, re.data(), im.data());
    for (size_t k = 0; k < 256; ++k) {
        EXPECT_NEAR(re[k], r0[k], 1e-9);
        EXPECT_NEAR(im[k], i0[k], 1e-9);
    }
}

// The fast transform must give the very bits of the plain one.
TEST(FFT, Fast1024TransformHasTheSameBits) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        alignas(64) double a[1024], b[1024];
        for (int i = 0; i < 1024; ++i) {
            switch (round % 3) {
                case 0: a[i] = double(rng() % 256); break;                                   // 8-bit bytes
                case 1: a[i] = double(int16_t(rng())); break;                                // 16-bit values
                default: a[i] = std::ldexp(double(rng()) - 2147483648.0, int(rng() % 40) - 20); break;
            }
        }
        alignas(64) double x[1024], e[1024], f[1024];
        std::memcpy(x, a, sizeof a);
        std::fill(b, b + 1024, 0.0);
        FFT(1, 10, a, b);
        FFT1024ForwardReal(x, e, f);
        for (int i = 0; i < 1024; ++i) {
            ASSERT_EQ(a[i], e[i]) << "round " << round << " real input, re " << i;
            ASSERT_EQ(b[i], f[i]) << "round " << round << " real input, im " << i;
        }
    }
}

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
