#include <cmath>
#include <fstream>

#include <gtest/gtest.h>

#include "recognition/Features.h"
#include "recognition/RecognitionSupport.h"
#include "recognition/Resampler.h"

using namespace notavox;
using namespace notavox::recognition;

namespace {

// The features of a whole signal as [T][294].
std::vector<float> ComputeFeatures(const std::vector<float>& signal) {
    const int64_t T = FrameCount(int64_t(signal.size()));
    std::vector<float> out(size_t(T) * kFeatureBins);
    if (T == 0) return out;
    // The signal with kFftSize / 2 zeros before it and enough after it.
    std::vector<float> padded(size_t(kFftSize / 2) + signal.size() + size_t(kFftSize), 0.0f);
    std::copy(signal.begin(), signal.end(), padded.begin() + kFftSize / 2);
    std::vector<float> featT(size_t(kFeatureBins) * size_t(T));
    FeatureExtractor fx;
    fx.compute(padded.data(), -kFftSize / 2, 0, int(T), featT.data(), size_t(T));
    for (int64_t t = 0; t < T; ++t)
        for (int j = 0; j < kFeatureBins; ++j) out[size_t(t) * kFeatureBins + size_t(j)] = featT[size_t(j) * size_t(T) + size_t(t)];
    return out;
}

std::vector<float> sine(double freq, double amplitude, int64_t samples, int32_t rate = kModelRate) {
    std::vector<float> s(static_cast<size_t>(samples));
    for (int64_t n = 0; n < samples; ++n) s[size_t(n)] = float(amplitude * std::sin(2 * M_PI * freq * double(n) / rate));
    return s;
}

double keyFrequency(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

int loudestBin(const std::vector<float>& feat, int64_t t) {
    int best = 0;
    for (int j = 1; j < kFeatureBins; ++j)
        if (feat[size_t(t) * kFeatureBins + size_t(j)] > feat[size_t(t) * kFeatureBins + size_t(best)]) best = j;
    return best;
}

// The whole 16 kHz signal of a recording, from its pieces.
std::vector<float> resampled(const AudioDocument& doc) {
    const float peak = PeakLevel(doc, 2);
    const Resampler r(doc, peak > 0 ? 1.0f / peak : 1.0f);
    std::vector<float> out(size_t(r.pieceCount() * Resampler::kPieceLength));
    std::string error;
    for (int64_t p = 0; p < r.pieceCount(); ++p)
        EXPECT_TRUE(r.piece(p, out.data() + p * Resampler::kPieceLength, error)) << error;
    out.resize(size_t(r.length()));
    return out;
}

}  // namespace

TEST(RecognitionFrontEnd, FramesAndFilters) {
    EXPECT_EQ(FrameCount(0), 0);
    EXPECT_EQ(FrameCount(1), 1);
    EXPECT_EQ(FrameCount(159), 1);
    EXPECT_EQ(FrameCount(160), 2);
    const auto bank = BuildFilterbank();
    ASSERT_EQ(bank.size(), size_t(kFeatureBins));
    for (const FilterBin& b : bank) {
        double sum = 0;
        for (float w : b.weights) sum += w;
        EXPECT_NEAR(sum, 1.0, 1e-6);
        EXPECT_GE(b.weights.size(), 2u);
        EXPECT_LE(b.first + int(b.weights.size()), kWindowSizes[b.window] / 2 + 1);
    }
    // The long window up to B4, the middle one from C5, the short one from C6.
    const int c5 = 3 * (72 - 21) + 1, c6 = 3 * (84 - 21) + 1;
    EXPECT_EQ(bank[size_t(c5 - 1)].window, 0);
    EXPECT_EQ(bank[size_t(c5)].window, 1);
    EXPECT_EQ(bank[size_t(c6 - 1)].window, 1);
    EXPECT_EQ(bank[size_t(c6)].window, 2);
    EXPECT_EQ(bank.back().window, 2);
}

// A tone that starts shows in the frames whose window reaches its start: for
// a key from C6 up from one frame before it on, below C5 from six before.
TEST(RecognitionFrontEnd, HighKeysAnswerSoonerToAToneThatStarts) {
    for (int midi : {60, 96}) {
        auto tone = sine(keyFrequency(midi), 1.0, 16000);
        std::fill(tone.begin(), tone.begin() + 160 * 50, 0.0f);
        const auto feat = ComputeFeatures(tone);
        const size_t bin = size_t(3 * (midi - 21) + 1);
        int64_t firstHeard = -1;
        for (int64_t t = 0; t < 50 && firstHeard < 0; ++t)
            if (feat[size_t(t) * kFeatureBins + bin] > 0.0f) firstHeard = t;
        EXPECT_EQ(firstHeard, midi >= 84 ? 50 - 1 : 50 - 6) << midi;
    }
}

// A sine at a key's pitch peaks in that key's bin 3k + 1 (below C4 the
// spectrum's 7.8 Hz bins are wider than a third of a semitone: a bin or two
// off), near 1 for full scale; a click shows in the frame whose window it
// sits in the middle of.
TEST(RecognitionFrontEnd, SineLandsInItsKeysBinAndClickInItsFrame) {
    for (int midi : {36, 48, 60, 69, 81, 96, 108}) {
        const auto feat = ComputeFeatures(sine(keyFrequency(midi), 1.0, 16000));
        const int bin = 3 * (midi - 21) + 1;
        if (midi >= 60) {
            EXPECT_EQ(loudestBin(feat, 50), bin) << midi;
        } else {
            EXPECT_LE(std::abs(loudestBin(feat, 50) - bin), 2) << midi;
        }
        EXPECT_GT(feat[50 * kFeatureBins + size_t(bin)], 0.8f) << midi;
        EXPECT_LT(feat[50 * kFeatureBins + size_t(bin)], 1.0f) << midi;
    }
    // A quarter tone above A4 lands between the bins of A4 and B flat.
    const auto between = ComputeFeatures(sine(keyFrequency(69) * std::pow(2.0, 0.5 / 12), 1.0, 16000));
    EXPECT_TRUE(loudestBin(between, 50) == 146 || loudestBin(between, 50) == 147);
    std::vector<float> click(16000, 0.0f);
    click[160 * 40] = 1.0f;
    const auto feat = ComputeFeatures(click);
    auto energy = [&](int64_t t) {
        double e = 0;
        for (int j = 0; j < kFeatureBins; ++j) e += feat[size_t(t) * kFeatureBins + size_t(j)];
        return e;
    };
    for (int64_t t = 0; t < FrameCount(16000); ++t) {
        if (t != 40) {
            EXPECT_LT(energy(t), energy(40)) << t;
        }
        if (t < 33 || t > 47) {
            EXPECT_EQ(energy(t), 0.0) << t;
        }
    }
    const auto silence = ComputeFeatures(std::vector<float>(3000, 0.0f));
    EXPECT_EQ(silence.size(), size_t(FrameCount(3000)) * kFeatureBins);
    for (float f : silence) EXPECT_EQ(f, 0.0f);
}

// Every sample format and rate of the program: the 16 kHz signal has the
// right length, is scaled to a peak of 1 and keeps the pitch.
TEST(RecognitionFrontEnd, EveryFormatAndRateGivesTheSameTone) {
    for (int32_t rate : {8000, 11025, 16000, 22050, 32000, 44100, 48000, 96000}) {
        for (int format = 0; format < 4; ++format) {
            const bool stereo = format & 1, sixteen = format & 2;
            const AudioDocument doc = notavox::testing::toneRecording(rate, stereo, sixteen, 2.5, {{440.0, 0.3}});
            const std::vector<float> s = resampled(doc);
            ASSERT_EQ(int64_t(s.size()), (int64_t(rate * 2.5) * 16000 + rate - 1) / rate) << rate;
            float peak = 0;
            for (float v : s) peak = std::max(peak, std::abs(v));
            EXPECT_NEAR(peak, 1.0f, 0.02f) << rate << " " << format;
            const auto feat = ComputeFeatures(s);
            for (int64_t t : {20, 125, 230}) EXPECT_EQ(loudestBin(feat, t), 145) << rate << " " << format << " " << t;
        }
    }
}

// The pieces join without a seam and without delay: the 16 kHz samples of a
// 44.1 kHz sine are the sine sampled at 16 kHz, across the piece borders.
TEST(RecognitionFrontEnd, ResampledSignalIsTheSameSineWithoutDelay) {
    const AudioDocument doc = notavox::testing::toneRecording(44100, true, true, 5.0, {{440.0, 0.5}, {1250.0, 0.25}});
    const std::vector<float> s = resampled(doc);
    const double scale = 1.0 / (PeakLevel(doc, 1) * 32768.0 / 32000.0);
    double worst = 0;
    for (int64_t n = 200; n < int64_t(s.size()) - 200; ++n) {
        const double t = double(n) / 16000;
        const double want = scale * (0.5 * std::sin(2 * M_PI * 440 * t) + 0.25 * std::sin(2 * M_PI * 1250 * t));
        worst = std::max(worst, std::abs(double(s[size_t(n)]) - want));
    }
    EXPECT_LT(worst, 2e-3);
}

TEST(RecognitionFrontEnd, MonoAndPeakFollowTheSampleValues) {
    // 8-bit stereo: (l - 128) / 128 and (r - 128) / 128 averaged.
    SampleBlock block = allocateBlock(6);
    const uint8_t bytes[6] = {0, 128, 255, 255, 100, 156};
    std::memcpy(block.get(), bytes, 6);
    AudioDocument doc;
    doc.replace(std::move(block), 6, 8000, true, false);
    float out[3];
    MonoSamples(doc, 0, 3, 1.0f, out);
    EXPECT_EQ(out[0], -0.5f);
    EXPECT_EQ(out[1], 127.0f / 128.0f);
    EXPECT_EQ(out[2], 0.0f);
    EXPECT_EQ(PeakLevel(doc, 1), 127.0f / 128.0f);
    // 16-bit mono, on more threads than there are samples.
    SampleBlock b16 = allocateBlock(4);
    const int16_t v[2] = {-32768, 1000};
    std::memcpy(b16.get(), v, 4);
    AudioDocument d16;
    d16.replace(std::move(b16), 4, 22050, false, true);
    EXPECT_EQ(PeakLevel(d16, 8), 1.0f);
    MonoSamples(d16, 1, 1, 2.0f, out);
    EXPECT_EQ(out[0], 1000.0f / 32768.0f * 2.0f);
    // Silence stays silence.
    const AudioDocument quiet = notavox::testing::toneRecording(44100, false, true, 0.5, {});
    EXPECT_EQ(PeakLevel(quiet, 2), 0.0f);
    for (float x : resampled(quiet)) ASSERT_EQ(x, 0.0f);
}

// The program's front end against the training's (features.py): the features
// of fixed 44.1 kHz stereo and 48 kHz mono signals as the training program
// wrote them (training/frontend_fixture.py). The two differ only by rounding
// (float sums here, doubles in the training's resampling and transforms):
// a few millionths, where another resampler would differ by far more.
TEST(RecognitionFrontEnd, MatchesTheTrainingFrontEnd) {
    std::ifstream in(std::string(NOTAVOX_SOURCE_DIR) + "/tests/recognition/front_end_fixture.bin", std::ios::binary);
    ASSERT_TRUE(in.good());
    auto u32 = [&] {
        uint32_t v = 0;
        in.read(reinterpret_cast<char*>(&v), 4);
        return v;
    };
    int cases = 0;
    while (in.peek() != EOF) {
        const int32_t rate = int32_t(u32());
        const bool stereo = u32() == 2;
        const uint32_t frames = u32();
        const size_t bytes = size_t(frames) * (stereo ? 4 : 2);
        SampleBlock block = allocateBlock(bytes);
        in.read(reinterpret_cast<char*>(block.get()), std::streamsize(bytes));
        AudioDocument doc;
        doc.replace(std::move(block), int32_t(bytes), rate, stereo, true);
        const uint32_t T = u32(), bins = u32();
        ASSERT_EQ(bins, uint32_t(kFeatureBins));
        std::vector<float> want(size_t(T) * bins);
        in.read(reinterpret_cast<char*>(want.data()), std::streamsize(want.size() * 4));
        ASSERT_TRUE(in.good());

        const std::vector<float> got = ComputeFeatures(resampled(doc));
        ASSERT_EQ(got.size(), want.size()) << rate;
        double worst = 0, mean = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            worst = std::max(worst, double(std::abs(got[i] - want[i])));
            mean += want[i];
        }
        EXPECT_GT(mean / double(got.size()), 0.05) << rate;  // the signal is there
        EXPECT_LT(worst, 2e-5) << rate;
        ++cases;
    }
    EXPECT_EQ(cases, 2);
}

// The filter is the training's: unit gain at 0 Hz times up, symmetric, its
// centre tap cutoff * up, and as long as 20 max(up, down) + 1.
TEST(RecognitionFrontEnd, ResamplingFilterHasTheTrainingsShape) {
    EXPECT_TRUE(Resampler::Design(16000, 16000).empty());
    for (auto [up, down] : {std::pair<int64_t, int64_t>{160, 441}, {1, 3}, {2, 1}, {640, 441}}) {
        const std::vector<double> h = Resampler::Design(up, down);
        const int64_t most = std::max(up, down);
        ASSERT_EQ(int64_t(h.size()), 20 * most + 1);
        double sum = 0;
        for (double v : h) sum += v;
        EXPECT_NEAR(sum, double(up), 1e-9 * double(up));
        for (size_t k = 0; k < h.size() / 2; ++k) ASSERT_EQ(h[k], h[h.size() - 1 - k]) << k;
        EXPECT_GT(h[h.size() / 2], 0.9 * double(up) / double(most));
    }
}

// A rate whose filter would be huge (a prime number of hertz above 200 kHz,
// as a damaged header may claim) is refused with a reason; a rate just
// inside the limit is converted.
TEST(RecognitionFrontEnd, RefusesARateWithoutAReasonableFilter) {
    for (int32_t rate : {2147483647, 200003}) {
        const AudioDocument doc = notavox::testing::toneRecording(rate, false, true, 0.0001, {{440.0, 0.3}});
        const Resampler r(doc, 1.0f);
        std::vector<float> out(size_t(Resampler::kPieceLength));
        std::string error;
        EXPECT_FALSE(r.piece(0, out.data(), error)) << rate;
        EXPECT_EQ(error, "Abtastrate " + std::to_string(rate) + " Hz wird nicht unterstützt");
    }
    const AudioDocument odd = notavox::testing::toneRecording(44101, false, true, 0.2, {{440.0, 0.3}});
    std::string error;
    const Resampler r(odd, 1.0f);
    std::vector<float> out(size_t(Resampler::kPieceLength));
    EXPECT_TRUE(r.piece(0, out.data(), error)) << error;
}
