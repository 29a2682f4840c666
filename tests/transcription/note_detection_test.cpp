#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "ReferenceFFT.h"
#include "TestSupport.h"
#include "support/NoThreads.h"
#include "transcription/NoteDetection.h"

using namespace notavox;
using namespace notavox::testing;

namespace {

struct RecordingHost : OperationHost {
    std::vector<int32_t> progress;
    void SetProStatus(int32_t p) override { progress.push_back(p); }
};

AudioDocument makeDoc(int32_t frames, int32_t rate, bool stereo, bool sixteen) {
    AudioDocument d;
    d.sampleRate = rate;
    d.stereo = stereo;
    d.sixteenBit = sixteen;
    d.byteCount = frames * d.bytesPerFrame();
    d.sampleData = allocateBlock(size_t(d.byteCount));
    return d;
}

// An 8-bit mono recording of sinusoids of the given frequencies and
// amplitudes (in 8-bit units) around 128.
AudioDocument tones(int32_t frames, int32_t rate, const std::vector<std::pair<double, double>>& parts) {
    AudioDocument d = makeDoc(frames, rate, false, false);
    for (int32_t i = 0; i < frames; ++i) {
        double v = 128;
        for (auto [f, a] : parts) v += a * std::sin(2 * M_PI * f * i / rate);
        d.sampleData[size_t(i)] = uint8_t(std::lround(std::clamp(v, 0.0, 255.0)));
    }
    return d;
}

std::vector<NoteEvent> detect(const AudioDocument& d, unsigned threads = 1) {
    TDynaArray list(int32_t(sizeof(NoteEvent)), nullptr);
    OperationHost host;
    DetectNotes(d, list, host, threads);
    return events(list);
}

// The detection loop done the plain way, window by window with FFT().
std::vector<NoteEvent> literalDetect(const AudioDocument& doc) {
    std::vector<NoteEvent> out;
    const auto freq = BuildNoteFrequency();
    const auto map = BuildBinToNote(doc.sampleRate, freq);
    int32_t frameCount = doc.byteCount;
    if (doc.sixteenBit) frameCount /= 2;
    if (doc.stereo) frameCount /= 2;
    int32_t windowStart = 0, remaining = frameCount, windowIndex = 0;
    std::vector<double> re(1024), im(1024);
    while (remaining >= 0) {
        const int32_t n = std::min(1024, remaining);
        std::fill(re.begin(), re.end(), 0.0);
        std::fill(im.begin(), im.end(), 0.0);
        for (int32_t i = windowStart; i < windowStart + n; ++i) {
            const uint8_t* p = doc.sampleData.get();
            double v;
            if (doc.sixteenBit) {
                int16_t s;
                std::memcpy(&s, p + (doc.stereo ? 4 : 2) * int64_t(i), 2);
                v = s;
            } else {
                v = p[(doc.stereo ? 2 : 1) * int64_t(i)];
            }
            re[size_t(i - windowStart)] = v;
        }
        FFT(1, 10, re.data(), im.data());
        double level[128] = {}, count[128] = {};
        for (int j = 0; j < 512; ++j) {
            const long double a = re[size_t(j)], b = im[size_t(j)];
            re[size_t(j)] = double(std::sqrt(a * a + b * b));
            if (map[size_t(j)] != -1) {
                level[map[size_t(j)]] += re[size_t(j)];
                count[map[size_t(j)]] += 1;
            }
        }
        for (int m = 0; m < 128; ++m)
            if (count[m] != 0) level[m] /= count[m];
        double peak = 0;
        for (int m = 0; m < 128; ++m)
            if (level[m] > 1.0 && level[m] > peak) peak = level[m];
        for (int p = 0; p < 12; ++p) {
            double best = 0;
            int bestNote = -1;
            for (int o = 0; o < 8; ++o)
                if (level[p + 12 * o] > best) best = level[p + 12 * o], bestNote = p + 12 * o;
            for (int o = 0; o < 8; ++o)
                if (p + 12 * o != bestNote) level[p + 12 * o] = 0;
        }
        for (int m = 0; m < 128; ++m) {
            if (level[m] > 0.75 * peak && level[m] > 1.0) {
                int64_t vel = int64_t(level[m] * 500 / 10);
                NoteEvent e = detection(windowIndex, uint8_t(m), uint8_t(std::min<int64_t>(vel, 127)),
                                        uint32_t(int64_t(windowStart + n) * 1000 / doc.sampleRate),
                                        uint32_t(1024 * 1000 / doc.sampleRate));
                out.push_back(e);
            }
        }
        remaining -= 1024;
        windowStart += 1024;
        ++windowIndex;
    }
    return out;
}

void expectSame(const std::vector<NoteEvent>& a, const std::vector<NoteEvent>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_TRUE(sameEvent(a[i], b[i])) << i << ": " << describe(a[i]) << " vs " << describe(b[i]);
        ASSERT_EQ(a[i].duration, b[i].duration);
    }
}

}  // namespace

TEST(NoteDetection, TwoThousandFortyEightFramesGiveThreeWindows) {
    // 430.66 Hz lies exactly on bin 10 (note 69); amplitude 40 gives level 20.
    AudioDocument d = tones(2048, 44100, {{10 * 44100.0 / 1024, 40}});
    EXPECT_EQ(WindowCount(2048), 3);
    const auto ev = detect(d);
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].data.bytes[0], 69);
    EXPECT_EQ(ev[0].time, 23u);
    EXPECT_EQ(ev[1].time, 46u);
    for (const NoteEvent& e : ev) {
        EXPECT_EQ(e.duration, 23u);
        EXPECT_EQ(e.kind, kNoteOn);
        EXPECT_EQ(e.channel, 69 % 8);
        EXPECT_EQ(e.dataLength, 2);
        EXPECT_EQ(e.data.bytes[1], 127);
    }
    EXPECT_EQ(ev[0].window, 0);
    EXPECT_EQ(ev[1].window, 1);
}

TEST(NoteDetection, ThresholdsAndVelocities) {
    const DetectionTables tables(44100);
    // Amplitude 3 on bin 10 gives level 1.5: velocity 75.
    {
        AudioDocument d = tones(1024, 44100, {{10 * 44100.0 / 1024, 3}});
        std::vector<NoteEvent> out;
        WindowLevels lv;
        DetectWindow(d, tables, 0, out, &lv);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_NEAR(lv.noteLevel[69], 1.5, 0.3);
        EXPECT_EQ(out[0].data.bytes[1], uint8_t(int64_t(lv.noteLevel[69] * 500 / 10)));
    }
    // A faint tone of amplitude 1.6 (level 0.8) yields nothing.
    {
        AudioDocument d = makeDoc(1024, 44100, false, true);
        for (int i = 0; i < 1024; ++i) {
            const int16_t v = int16_t(std::lround(1.6 * std::cos(2 * M_PI * 10 * i / 1024)));
            std::memcpy(d.sampleData.get() + 2 * i, &v, 2);
        }
        EXPECT_TRUE(detect(d).empty());
    }
    // A strong and a weak tone: only the strong one stands above 75 %.
    {
        AudioDocument d = tones(1024, 44100, {{10 * 44100.0 / 1024, 40}, {20 * 44100.0 / 1024, 20}});
        const auto ev = detect(d);
        ASSERT_EQ(ev.size(), 1u);
        EXPECT_EQ(ev[0].data.bytes[0], 69);
    }
}

TEST(NoteDetection, VelocityFromLevel) {
    EXPECT_EQ(VelocityOf(1.5), 75);
    EXPECT_EQ(VelocityOf(2.0), 100);
    EXPECT_EQ(VelocityOf(1.0000001), 50);
    EXPECT_EQ(VelocityOf(2.54), 127);
    EXPECT_EQ(VelocityOf(2.56), 127);
    EXPECT_EQ(VelocityOf(40000.0), 127);
    // Velocity = Trunc(level * 500 / 10), limited to 127: checked on the
    // levels the detection itself reports.
    std::mt19937 rng(5);
    for (int round = 0; round < 50; ++round) {
        AudioDocument d = tones(1024, 44100, {{double(rng() % 5000 + 100), double(rng() % 5 + 2)}});
        std::vector<NoteEvent> out;
        WindowLevels lv;
        DetectWindow(d, DetectionTables(44100), 0, out, &lv);
        for (const NoteEvent& e : out) {
            // The level after the octave suppression equals the level before it.
            EXPECT_EQ(e.data.bytes[1], VelocityOf(lv.noteLevel[e.data.bytes[0]]));
            EXPECT_GE(e.data.bytes[1], 50);
        }
    }
}

TEST(NoteDetection, OctaveSuppression) {
    // Bin 10 (note 69) and bin 20 (861 Hz, note 81 = A one octave up) at
    // equal amplitude: same pitch class, the lower one survives.
    AudioDocument d = tones(1024, 44100, {{10 * 44100.0 / 1024, 30}, {20 * 44100.0 / 1024, 30}});
    std::vector<NoteEvent> out;
    WindowLevels lv;
    DetectWindow(d, DetectionTables(44100), 0, out, &lv);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].data.bytes[0], 69);
    // Notes from 96 up take no part: note 105 (an A, 3520 Hz, around bin
    // 82) appears together with note 69. Its level is the mean over its
    // bins, so its tone is made louder by that many.
    const DetectionTables tables(44100);
    int bins105 = 0;
    for (int32_t n : tables.binToNote) bins105 += n == 105;
    ASSERT_GT(bins105, 1);
    AudioDocument e = makeDoc(1024, 44100, false, true);
    for (int i = 0; i < 1024; ++i) {
        const double v = 2000 * std::cos(2 * M_PI * 10 * i / 1024) + 2000.0 * bins105 * std::cos(2 * M_PI * 82 * i / 1024);
        const int16_t s = int16_t(std::lround(v));
        std::memcpy(e.sampleData.get() + 2 * i, &s, 2);
    }
    const auto ev = detect(e);
    std::vector<int> notes;
    for (const NoteEvent& x : ev) notes.push_back(x.data.bytes[0]);
    EXPECT_EQ(notes, (std::vector<int>{69, 105}));
}

TEST(NoteDetection, SameAsThePlainLoopForEveryFormat) {
    std::mt19937 rng(77);
    for (int round = 0; round < 12; ++round) {
        const bool stereo = round & 1, sixteen = round & 2;
        const int32_t rate = std::vector<int32_t>{44100, 22050, 8000, 16000, 48000, 11025}[size_t(round % 6)];
        const int32_t frames = int32_t(rng() % 20000) + 1;
        AudioDocument d = makeDoc(frames, rate, stereo, sixteen);
        // A few tones plus noise, as raw bytes of the format.
        for (int32_t i = 0; i < frames; ++i) {
            const double v = 0.4 * std::sin(i * 0.07) + 0.3 * std::sin(i * 0.19 + round) +
                             0.05 * (double(rng() % 1000) / 500 - 1);
            for (int c = 0; c < d.channelCount(); ++c) {
                if (sixteen) {
                    const int16_t s = int16_t(v * 20000);
                    std::memcpy(d.sampleData.get() + (int64_t(i) * d.channelCount() + c) * 2, &s, 2);
                } else {
                    d.sampleData[size_t(int64_t(i) * d.channelCount() + c)] = uint8_t(128 + v * 100);
                }
            }
        }
        const auto plain = literalDetect(d);
        expectSame(detect(d, 1), plain);
        expectSame(detect(d, 3), plain);
    }
}

TEST(NoteDetection, ThreadCountDoesNotChangeTheList) {
    AudioDocument d = tones(44100 * 20, 44100, {{261.65, 20}, {329.6, 15}, {392, 12}, {110, 25}});
    const auto one = detect(d, 1);
    EXPECT_FALSE(one.empty());
    expectSame(detect(d, 2), one);
    expectSame(detect(d, 7), one);
    // Where no helper thread can be started the caller does every batch.
    notavox::testing::NoThreads none;
    expectSame(detect(d, 4), one);
}

TEST(NoteDetection, ProgressRisesToHundred) {
    AudioDocument d = tones(1024 * 300, 44100, {{440, 20}});
    TDynaArray list(int32_t(sizeof(NoteEvent)), nullptr);
    RecordingHost host;
    DetectNotes(d, list, host, 2);
    ASSERT_FALSE(host.progress.empty());
    for (size_t i = 1; i < host.progress.size(); ++i) EXPECT_GE(host.progress[i], host.progress[i - 1]);
    EXPECT_EQ(host.progress.back(), 100);
    for (int32_t p : host.progress) EXPECT_TRUE(p >= 0 && p <= 100);
}

TEST(NoteDetection, NoWholeFrameAndNoRate) {
    // One byte of a 16-bit recording is no frame: progress 100 at once.
    AudioDocument d = makeDoc(0, 44100, false, true);
    d.byteCount = 1;
    d.sampleData = allocateBlock(1);
    d.sampleData[0] = 0x7F;
    TDynaArray list(int32_t(sizeof(NoteEvent)), nullptr);
    RecordingHost host;
    EXPECT_EQ(DetectNotes(d, list, host, 2), 0);
    EXPECT_EQ(host.progress, std::vector<int32_t>{100});
    // Rate 0: every bin belongs to no note; nothing divides by zero.
    AudioDocument z = tones(5000, 44100, {{440, 50}});
    z.sampleRate = 0;
    EXPECT_TRUE(detect(z).empty());
    z.sampleRate = -5;
    EXPECT_TRUE(detect(z).empty());
}

TEST(NoteDetection, LastPartialWindowOfAnEightBitRecording) {
    // Silence at 128 steps down to the zero padding after 1000 frames: the
    // window is analysed as it is, and the plain loop agrees.
    AudioDocument d = makeDoc(2024, 44100, false, false);
    std::memset(d.sampleData.get(), 128, 2024);
    expectSame(detect(d), literalDetect(d));
    EXPECT_FALSE(detect(d).empty());
    EXPECT_EQ(detect(d).front().window, 1);
}
