#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "ReferenceFFT.h"
#include "transcription/Fft.h"

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

namespace {

// The magnitudes of `frames` frames, frame l from signal + l * hop, as
// BatchFft lays them out.
std::vector<float> BatchMagnitudes(const BatchFft& fft, const float* signal, int hop, int frames,
                                   const std::vector<float>& window) {
    std::vector<float> re(size_t(fft.size() / 2 * kLanes)), im(re.size()), mag(size_t(fft.bins() * kLanes));
    fft.magnitudes(signal, hop, frames, window.data(), re.data(), im.data(), mag.data());
    return mag;
}

}  // namespace

// The float transform of real frames against the plain double one: |X_k| /
// (N/4) within float rounding (a few 1e-8 on these frames, whose peaks lie
// near 0.1 to 0.3), at every length the analyses use.
TEST(BatchFft, MagnitudesAgreeWithThePlainTransform) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    for (const int size : {256, 512, 1024, 2048}) {
        const int hop = 37;
        std::vector<float> signal(size_t(15 * hop + size)), window(static_cast<size_t>(size));
        for (float& v : signal) v = d(rng);
        for (int n = 0; n < size; ++n) window[size_t(n)] = float(0.5 - 0.5 * std::cos(2 * M_PI * n / size));
        const BatchFft fft(size);
        ASSERT_EQ(fft.bins(), size / 2 + 1);
        const std::vector<float> mag = BatchMagnitudes(fft, signal.data(), hop, kLanes, window);
        int m = 0;
        while ((1 << m) < size) ++m;
        for (int l = 0; l < kLanes; ++l) {
            std::vector<double> re(static_cast<size_t>(size)), im(static_cast<size_t>(size), 0.0);
            for (int n = 0; n < size; ++n) re[size_t(n)] = double(signal[size_t(l * hop + n)] * window[size_t(n)]);
            FFT(1, m, re.data(), im.data());
            for (int k = 0; k <= size / 2; ++k) {
                const double expected = 4.0 * std::hypot(re[size_t(k)], im[size_t(k)]);
                ASSERT_NEAR(mag[size_t(k * kLanes + l)], expected, 1e-6)
                    << "size " << size << " lane " << l << " bin " << k;
            }
        }
    }
}

// A frame's spectrum has the same bits whichever lane it takes and whatever
// the other lanes hold: the analyses split their frames over threads and
// batches as they please.
TEST(BatchFft, FrameDoesNotDependOnItsLaneOrNeighbours) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    const int size = 512, hop = 100;
    std::vector<float> signal(size_t(15 * hop + size)), window(static_cast<size_t>(size));
    for (float& v : signal) v = d(rng);
    for (float& v : window) v = d(rng);
    const BatchFft fft(size);
    const std::vector<float> all = BatchMagnitudes(fft, signal.data(), hop, kLanes, window);
    for (const int frame : {0, 7, 15}) {
        const std::vector<float> one = BatchMagnitudes(fft, signal.data() + frame * hop, hop, 1, window);
        for (int k = 0; k < fft.bins(); ++k) {
            ASSERT_EQ(std::memcmp(&one[size_t(k * kLanes)], &all[size_t(k * kLanes + frame)], sizeof(float)), 0)
                << "frame " << frame << " bin " << k;
            for (int l = 1; l < kLanes; ++l) ASSERT_EQ(one[size_t(k * kLanes + l)], 0.0f);
        }
    }
}
