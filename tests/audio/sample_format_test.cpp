#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "audio/MemoryBudget.h"
#include "audio/SampleFormat.h"

using namespace notavox;

namespace {

AudioDocument doc(std::vector<uint8_t> bytes, int32_t rate, bool stereo, bool sixteen) {
    AudioDocument d;
    d.byteCount = int32_t(bytes.size());
    d.sampleData = allocateBlock(bytes.size());
    if (!bytes.empty()) std::memcpy(d.sampleData.get(), bytes.data(), bytes.size());
    d.sampleRate = rate;
    d.stereo = stereo;
    d.sixteenBit = sixteen;
    d.selectionStart = 3;
    d.selectionEnd = 1;
    return d;
}

std::vector<uint8_t> bytesOf(const AudioDocument& d) {
    return std::vector<uint8_t>(d.sampleData.get(), d.sampleData.get() + d.byteCount);
}

// The conversion as written: a division per frame and a switch per format.
std::vector<uint8_t> plainConvert(const AudioDocument& d, const SampleFormatTarget& t) {
    int64_t b = d.byteCount;
    if (t.sixteenBit && !d.sixteenBit) b *= 2;
    if (!t.sixteenBit && d.sixteenBit) b /= 2;
    if (t.stereo && !d.stereo) b *= 2;
    if (!t.stereo && d.stereo) b /= 2;
    const int64_t n = b * t.sampleRate / d.sampleRate;
    const int u = (t.sixteenBit ? 2 : 1) * (t.stereo ? 2 : 1);
    const int v = d.bytesPerFrame();
    std::vector<uint8_t> out(size_t(n), 0);
    for (int64_t k = 0; k < n / u; ++k) {
        const int64_t s = std::min<int64_t>(k * d.sampleRate / t.sampleRate, d.frameCount() - 1);
        const uint8_t* p = d.sampleData.get() + s * v;
        int32_t l, r;
        if (s < 0) {
            l = r = 0;
        } else if (d.sixteenBit) {
            int16_t a, c;
            std::memcpy(&a, p, 2);
            std::memcpy(&c, d.stereo ? p + 2 : p, 2);
            l = a;
            r = c;
        } else {
            l = (p[0] - 128) * 256;
            r = ((d.stereo ? p[1] : p[0]) - 128) * 256;
        }
        uint8_t* q = out.data() + k * u;
        if (t.sixteenBit) {
            const int16_t a = int16_t(l), c = int16_t(r);
            std::memcpy(q, &a, 2);
            if (t.stereo) std::memcpy(q + 2, &c, 2);
        } else {
            q[0] = uint8_t(((l >> 8) + 128) & 255);
            if (t.stereo) q[1] = uint8_t(((r >> 8) + 128) & 255);
        }
    }
    return out;
}

}  // namespace

TEST(ConvertSampleFormat, SixteenBitStereoToEightBitMono) {
    // Left 0x1234 gives 0x92, left -1 gives 127; the right values are dropped.
    AudioDocument d = doc({0x34, 0x12, 0x00, 0x40, 0xFF, 0xFF, 0x11, 0x11}, 44100, true, true);
    ASSERT_EQ(ConvertSampleFormat(d, {false, false, 44100}), FormatResult::Converted);
    EXPECT_EQ(bytesOf(d), (std::vector<uint8_t>{0x92, 127}));
    EXPECT_FALSE(d.stereo);
    EXPECT_FALSE(d.sixteenBit);
    EXPECT_EQ(d.selectionStart, 0);
    EXPECT_EQ(d.selectionEnd, 0);
}

TEST(ConvertSampleFormat, EightBitToSixteenBit) {
    AudioDocument d = doc({0, 128, 255}, 8000, false, false);
    ASSERT_EQ(ConvertSampleFormat(d, {false, true, 8000}), FormatResult::Converted);
    ASSERT_EQ(d.byteCount, 6);
    int16_t v[3];
    std::memcpy(v, d.sampleData.get(), 6);
    EXPECT_EQ(v[0], -32768);
    EXPECT_EQ(v[1], 0);
    EXPECT_EQ(v[2], 32512);
}

TEST(ConvertSampleFormat, RateChanges) {
    std::vector<uint8_t> ramp(8000);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = uint8_t(i);
    AudioDocument up = doc(ramp, 8000, false, false);
    ASSERT_EQ(ConvertSampleFormat(up, {false, false, 44100}), FormatResult::Converted);
    EXPECT_EQ(up.byteCount, 44100);
    EXPECT_EQ(up.sampleRate, 44100);
    for (int32_t k = 0; k < 44100; ++k) ASSERT_EQ(up.sampleData[size_t(k)], uint8_t(int64_t(k) * 8000 / 44100));
    AudioDocument down = doc(ramp, 44100, false, false);
    ASSERT_EQ(ConvertSampleFormat(down, {false, false, 22050}), FormatResult::Converted);
    EXPECT_EQ(down.byteCount, 4000);
    for (int32_t k = 0; k < 4000; ++k) ASSERT_EQ(down.sampleData[size_t(k)], uint8_t(2 * k));
}

TEST(ConvertSampleFormat, UnchangedFormatCopiesTheSamples) {
    AudioDocument d = doc({1, 2, 3, 4, 5, 6, 7, 8}, 22050, true, true);
    ASSERT_EQ(ConvertSampleFormat(d, {true, true, 22050}), FormatResult::Converted);
    EXPECT_EQ(bytesOf(d), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(d.selectionStart, 0);
}

TEST(ConvertSampleFormat, FewFramesToALowRateBecomeEmpty) {
    AudioDocument d = doc({1, 2, 3}, 44100, false, false);
    ASSERT_EQ(ConvertSampleFormat(d, {false, true, 8000}), FormatResult::Converted);
    EXPECT_EQ(d.byteCount, 1);  // 6 * 8000 / 44100 = 1: less than a frame
    AudioDocument e = doc({1, 2}, 44100, false, false);
    ASSERT_EQ(ConvertSampleFormat(e, {false, false, 1000}), FormatResult::Converted);
    EXPECT_EQ(e.byteCount, 0);
    EXPECT_EQ(e.sampleData, nullptr);
    EXPECT_EQ(e.sampleRate, 1000);
}

TEST(ConvertSampleFormat, BytesAfterTheLastFrameAreNeverReadAsSamples) {
    // Three bytes of 16-bit mono are one frame and a stray byte; at 96 times
    // the rate the new recording runs one old frame further, which repeats
    // the last whole frame.
    AudioDocument d = doc({0x00, 0x40, 0x99}, 1, false, true);
    ASSERT_EQ(ConvertSampleFormat(d, {false, true, 96}), FormatResult::Converted);
    ASSERT_EQ(d.byteCount, 288);
    for (int k = 0; k < 144; ++k) {
        int16_t v;
        std::memcpy(&v, d.sampleData.get() + 2 * k, 2);
        ASSERT_EQ(v, 0x4000) << k;
    }
    // One byte of 16-bit audio holds no frame at all: silence.
    AudioDocument e = doc({0x99}, 10, false, true);
    ASSERT_EQ(ConvertSampleFormat(e, {true, true, 40}), FormatResult::Converted);
    EXPECT_EQ(bytesOf(e), std::vector<uint8_t>(8, 0));
}

TEST(ConvertSampleFormat, RefusalsKeepTheRecording) {
    AudioDocument z = doc({1, 2, 3, 4}, 0, false, true);
    EXPECT_EQ(ConvertSampleFormat(z, {false, false, 44100}), FormatResult::NoSampleRate);
    EXPECT_EQ(z.byteCount, 4);
    EXPECT_TRUE(z.sixteenBit);
    EXPECT_EQ(z.selectionStart, 3);
    EXPECT_STRNE(FormatResultMessage(FormatResult::NoSampleRate), "");
    AudioDocument n = doc({1, 2, 3, 4}, -44100, false, true);
    EXPECT_EQ(ConvertSampleFormat(n, {false, false, 44100}), FormatResult::NoSampleRate);
    // 1000 bytes at 1 Hz to 16-bit stereo at 200000 Hz: 800 MB, fits; 4000
    // bytes would be 3.2 GB and does not.
    AudioDocument big = doc(std::vector<uint8_t>(4000, 128), 1, false, false);
    EXPECT_EQ(ConvertedByteCount(big, {true, true, 200000}), 3200000000);
    EXPECT_EQ(ConvertSampleFormat(big, {true, true, 200000}), FormatResult::TooLarge);
    EXPECT_EQ(big.byteCount, 4000);
    EXPECT_EQ(big.sampleRate, 1);
    EXPECT_STRNE(FormatResultMessage(FormatResult::TooLarge), "");
    AudioDocument empty;
    EXPECT_EQ(ConvertSampleFormat(empty, {true, true, 44100}), FormatResult::Unchanged);
    EXPECT_EQ(empty.sampleRate, 0);
}

TEST(ChangeFormatToStandart, OnlyWhenNotEightBitMono) {
    AudioDocument mono8 = doc({1, 2, 3}, 22050, false, false);
    EXPECT_EQ(ChangeFormatToStandart(mono8), FormatResult::Unchanged);
    EXPECT_EQ(mono8.sampleRate, 22050);
    EXPECT_EQ(mono8.selectionStart, 3);
    std::vector<uint8_t> s(48000 * 4);
    for (size_t i = 0; i < s.size(); ++i) s[i] = uint8_t(i * 7);
    AudioDocument d = doc(s, 48000, true, true);
    const AudioDocument copy = doc(s, 48000, true, true);
    EXPECT_EQ(ChangeFormatToStandart(d), FormatResult::Converted);
    EXPECT_EQ(d.sampleRate, 44100);
    EXPECT_FALSE(d.stereo);
    EXPECT_FALSE(d.sixteenBit);
    EXPECT_EQ(bytesOf(d), plainConvert(copy, kStandardFormat));
}

// Stepping the source index gives exactly the bytes of a division per frame,
// for every pair of formats, odd byte counts and awkward rates.
TEST(ConvertSampleFormat, SameBytesAsADivisionPerFrame) {
    std::mt19937 rng(31);
    const int32_t rates[] = {1, 7, 8000, 11025, 22050, 44100, 48000, 96000, 199999, 200000};
    for (int round = 0; round < 600; ++round) {
        const bool stereo = rng() & 1, sixteen = rng() & 1;
        const int32_t p = rates[rng() % 10];
        SampleFormatTarget t{bool(rng() & 1), bool(rng() & 1), rates[rng() % 10]};
        size_t len = rng() % 3000;
        if (int64_t(len) * 4 * t.sampleRate / p > 4000000) len = 1 + rng() % 7;
        std::vector<uint8_t> bytes(len);
        for (auto& b : bytes) b = uint8_t(rng());
        AudioDocument d = doc(bytes, p, stereo, sixteen);
        const AudioDocument ref = doc(bytes, p, stereo, sixteen);
        if (len == 0) continue;
        ASSERT_EQ(ConvertSampleFormat(d, t), FormatResult::Converted);
        const auto got = bytesOf(d), want = plainConvert(ref, t);
        ASSERT_EQ(got.size(), want.size()) << round;
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(got[i], want[i]) << "round " << round << " byte " << i << " of " << got.size() << " from " << len
                                       << " bytes " << p << " Hz st " << stereo << " 16 " << sixteen << " to "
                                       << t.sampleRate << " st " << t.stereo << " 16 " << t.sixteenBit;
        EXPECT_EQ(d.sampleRate, t.sampleRate);
        EXPECT_EQ(d.stereo, t.stereo);
        EXPECT_EQ(d.sixteenBit, t.sixteenBit);
    }
}

TEST(ConvertSampleFormat, LargeRecordingConvertedInPartsGivesTheSameBytes) {
    // Over four million new frames: the conversion runs in parts.
    std::vector<uint8_t> bytes(size_t(4800000) * 4 + 3);
    uint32_t x = 1;
    for (auto& b : bytes) b = uint8_t((x = x * 1103515245u + 12345u) >> 24);
    for (SampleFormatTarget t : {SampleFormatTarget{false, false, 44100}, SampleFormatTarget{true, true, 47999},
                                 SampleFormatTarget{true, true, 48001}}) {
        AudioDocument d = doc(bytes, 48000, true, true);
        const AudioDocument ref = doc(bytes, 48000, true, true);
        ASSERT_EQ(ConvertSampleFormat(d, t), FormatResult::Converted);
        ASSERT_TRUE(bytesOf(d) == plainConvert(ref, t));
    }
}

TEST(ConvertSampleFormat, ShrinkingConversionsReuseTheBlockAndGiveTheSameBytes) {
    // Narrower or slower targets are converted within the old block; the
    // bytes must be those of a conversion into a new one, for every pair of
    // formats, with stray bytes after the last frame and runs of new frames
    // past the last whole old frame.
    std::vector<uint8_t> bytes(size_t(3) * 4096 * 4 + 3);
    uint32_t x = 7;
    for (auto& b : bytes) b = uint8_t((x = x * 1103515245u + 12345u) >> 24);
    for (int src = 0; src < 4; ++src) {
        for (int dst = 0; dst < 4; ++dst) {
            for (int32_t rate : {48000, 44100, 8000, 1}) {
                for (size_t len : {bytes.size(), bytes.size() - 1, size_t(5), size_t(1)}) {
                    const std::vector<uint8_t> in(bytes.begin(), bytes.begin() + std::ptrdiff_t(len));
                    AudioDocument d = doc(in, 48000, src & 1, src & 2);
                    const AudioDocument ref = doc(in, 48000, src & 1, src & 2);
                    const SampleFormatTarget t{bool(dst & 1), bool(dst & 2), rate};
                    ASSERT_EQ(ConvertSampleFormat(d, t), FormatResult::Converted);
                    ASSERT_TRUE(bytesOf(d) == plainConvert(ref, t))
                        << src << " -> " << dst << " at " << rate << " Hz from " << len << " bytes";
                    EXPECT_EQ(d.selectionStart, 0);
                    EXPECT_EQ(d.selectionEnd, 0);
                }
            }
        }
    }
    // A 16-bit mono frame and a stray byte at 1 Hz to 1 Hz 8-bit mono: the
    // new recording is one frame and keeps that frame's high byte.
    AudioDocument e = doc({0x34, 0x92, 0x77}, 1, false, true);
    ASSERT_EQ(ConvertSampleFormat(e, {false, false, 1}), FormatResult::Converted);
    EXPECT_EQ(bytesOf(e), std::vector<uint8_t>({0x12}));
}

// A header that claims 1 Hz makes the standard format 44100 times as long:
// when that does not fit the memory available, the conversion is refused
// before it allocates and the recording stays as it was.
TEST(MemoryBudget, ConversionThatDoesNotFitIsRefusedBeforeItAllocates) {
    AudioDocument d;
    d.replace(allocateBlock(88000), 88000, 1, false, true);
    std::memset(d.sampleData.get(), 1, 88000);
    ASSERT_EQ(ConvertedByteCount(d, kStandardFormat), int64_t(44000) * 44100);
    ProcessMemoryBudget().setAvailable([] { return uint64_t(512) << 20; });
    EXPECT_EQ(ChangeFormatToStandart(d), FormatResult::OutOfMemory);
    EXPECT_EQ(ProcessMemoryBudget().reserved(), 0u);
    ProcessMemoryBudget().setAvailable(SystemAvailableMemory);
    EXPECT_EQ(d.byteCount, 88000);
    EXPECT_EQ(d.sampleRate, 1);
    EXPECT_TRUE(d.sixteenBit);
    EXPECT_STREQ(FormatResultMessage(FormatResult::OutOfMemory),
                 "Das Sampleformat kann nicht geändert werden: Nicht genug Speicher.");
    // What fits is converted as before.
    AudioDocument small;
    small.replace(allocateBlock(400), 400, 100, false, true);
    std::memset(small.sampleData.get(), 1, 400);
    ProcessMemoryBudget().setAvailable([] { return uint64_t(1) << 20; });
    EXPECT_EQ(ChangeFormatToStandart(small), FormatResult::Converted);
    ProcessMemoryBudget().setAvailable(SystemAvailableMemory);
}

// Several conversions at once share one budget: together they never take
// more than is available.
TEST(MemoryBudget, WorkersShareOneBudget) {
    MemoryBudget budget([] { return uint64_t(1000); });
    std::atomic<int> granted{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 8; ++i)
        workers.emplace_back([&] {
            if (budget.reserve(400)) ++granted;
        });
    for (auto& w : workers) w.join();
    EXPECT_EQ(granted.load(), 2);
    EXPECT_EQ(budget.reserved(), 800u);
    budget.release(400);
    {
        MemoryReservation r(budget, 600);
        EXPECT_TRUE(r.ok());
        EXPECT_FALSE(MemoryReservation(budget, 1).ok());
    }
    EXPECT_EQ(budget.reserved(), 400u);
    EXPECT_GT(SystemAvailableMemory(), 0u);
}
