// The playback loop against a recording fake device: what is played, in which
// order, and how playback reacts to the loop box, STOP, a changed recording
// and a device that stops taking blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "support/FakeSoundDevice.h"
#include "sound/PlaybackLoop.h"

namespace notavox {
namespace {

using testing::FakeSoundDevice;

AudioDocument makeDocument(const std::vector<uint8_t>& bytes, int32_t rate, bool stereo, bool sixteenBit) {
    AudioDocument doc;
    SampleBlock block = allocateBlock(bytes.size());
    if (!bytes.empty()) std::memcpy(block.get(), bytes.data(), bytes.size());
    doc.replace(std::move(block), static_cast<int32_t>(bytes.size()), rate, stereo, sixteenBit);
    return doc;
}

// 16-bit mono recording whose frame k holds the value k + 1 (k < 32767).
AudioDocument rampMono16(int32_t frames, int32_t rate = 44100) {
    std::vector<uint8_t> bytes;
    for (int32_t k = 0; k < frames; ++k) {
        const auto v = static_cast<uint16_t>(k + 1);
        bytes.push_back(static_cast<uint8_t>(v & 0xff));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
    return makeDocument(bytes, rate, false, true);
}

struct ScriptedHost : OperationHost {
    bool stop = false;
    int pumps = 0;
    std::function<void(int)> onPump;  // gets the number of the pump, from 0
    void ProcessMessages() override {
        if (onPump) onPump(pumps);
        ++pumps;
    }
    bool stopRequested() const override { return stop; }
    void setStopRequested(bool value) override { stop = value; }
};

struct Session {
    AudioDocument doc;
    bool loop = false;
    ViewScroll view{100, 0};
    std::vector<int64_t> cursor;
    FakeSoundDevice device;
    ScriptedHost host;

    PlaybackEnd run() {
        device.open();
        PlaybackCallbacks cb;
        cb.loopChecked = [this] { return loop; };
        cb.recording = [this]() -> const AudioDocument& { return doc; };
        cb.view = [this] { return view; };
        cb.drawCursor = [this](int64_t c) { cursor.push_back(c); };
        return runPlayback(device, host, cb);
    }
};

// Frame indices of a ramp recording as played on the left channel (0: silence).
std::vector<int> playedFrames(const std::vector<int16_t>& left, size_t count) {
    std::vector<int> out;
    for (size_t i = 0; i < count && i < left.size(); ++i) out.push_back(left[i] - 1);
    return out;
}

TEST(PlaybackArithmetic, RoundsHalvesToEven) {
    EXPECT_EQ(roundHalfEven(0.5), 0);
    EXPECT_EQ(roundHalfEven(1.5), 2);
    EXPECT_EQ(roundHalfEven(2.5), 2);
    EXPECT_EQ(roundHalfEven(2.4999999), 2);
    EXPECT_EQ(roundHalfEven(2.5000001), 3);
    EXPECT_EQ(roundHalfEven(-0.5), 0);
    EXPECT_EQ(roundHalfEven(-1.5), -2);
    EXPECT_EQ(roundHalfEven(-1.2), -1);
    EXPECT_EQ(roundHalfEven(3e9 + 0.5), 3000000000LL);
}

TEST(PlaybackArithmetic, QuarterRateRepeatsFramesByRoundingHalfToEven) {
    std::vector<uint8_t> bytes;
    for (int k = 0; k < 100; ++k) bytes.push_back(static_cast<uint8_t>(k));
    const AudioDocument doc = makeDocument(bytes, 11025, false, false);
    std::vector<int16_t> block(kBlockSamples);
    double s = 0;
    fillBlock(doc, 100, s, block.data());
    const std::vector<int> expected = {0, 0, 0, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3, 4, 4, 4, 4, 4, 5, 5, 5};
    for (size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(block[2 * k], level8To16(static_cast<uint8_t>(expected[k]))) << "output frame " << k;
        EXPECT_EQ(block[2 * k + 1], block[2 * k]);
    }
    // 100 source frames last 400 output frames; the rest of the block is silence.
    EXPECT_EQ(block[2 * 397], level8To16(99));
    EXPECT_EQ(block[2 * 398], 0);
    EXPECT_EQ(block[2 * (kBlockFrames - 1)], 0);
    EXPECT_DOUBLE_EQ(s, kBlockFrames * 0.25);
}

TEST(PlaybackArithmetic, HalfRateAndFullRate) {
    std::vector<int16_t> block(kBlockSamples);
    const AudioDocument half = rampMono16(50, 22050);
    double s = 0;
    fillBlock(half, 50, s, block.data());
    const std::vector<int> expected = {0, 0, 1, 2, 2, 2, 3, 4, 4, 4, 5};
    for (size_t k = 0; k < expected.size(); ++k) EXPECT_EQ(block[2 * k] - 1, expected[k]) << k;

    const AudioDocument full = rampMono16(20000);
    s = 5;
    const int64_t last = fillBlock(full, 20000, s, block.data());
    for (int k = 0; k < kBlockFrames; ++k) ASSERT_EQ(block[2 * k] - 1, 5 + k);
    EXPECT_EQ(last, 5 + kBlockFrames - 1);
}

TEST(PlaybackArithmetic, EveryFormatBecomesStereo16) {
    std::vector<int16_t> block(kBlockSamples);
    double s = 0;
    // 8-bit levels: 128 is silence, 0 the lowest and 255 the highest value.
    const AudioDocument mono8 = makeDocument({128, 0, 255}, 44100, false, false);
    fillBlock(mono8, 3, s, block.data());
    EXPECT_EQ(std::vector<int16_t>(block.begin(), block.begin() + 8),
              (std::vector<int16_t>{0, 0, -32768, -32768, 32512, 32512, 0, 0}));

    s = 0;
    const AudioDocument stereo8 = makeDocument({0, 255, 129, 127}, 44100, true, false);
    fillBlock(stereo8, 2, s, block.data());
    EXPECT_EQ(std::vector<int16_t>(block.begin(), block.begin() + 6),
              (std::vector<int16_t>{-32768, 32512, 256, -256, 0, 0}));

    s = 0;
    // 16-bit mono: the same value on both channels, little-endian.
    const AudioDocument mono16 = makeDocument({0x34, 0x12, 0x00, 0x80}, 44100, false, true);
    fillBlock(mono16, 2, s, block.data());
    EXPECT_EQ(std::vector<int16_t>(block.begin(), block.begin() + 4),
              (std::vector<int16_t>{0x1234, 0x1234, -32768, -32768}));

    s = 0;
    // 16-bit stereo with an odd trailing byte: the partial frame is never played.
    const AudioDocument stereo16 = makeDocument({0xff, 0x7f, 0x01, 0x00, 0x02, 0x00, 0x03}, 44100, true, true);
    fillBlock(stereo16, 100, s, block.data());
    EXPECT_EQ(std::vector<int16_t>(block.begin(), block.begin() + 4), (std::vector<int16_t>{32767, 1, 0, 0}));
}

TEST(PlaybackArithmetic, CursorColumn) {
    EXPECT_EQ(cursorColumn(11024, 100, 0), 110);
    EXPECT_EQ(cursorColumn(11024, 100, 50), 60);
    EXPECT_EQ(cursorColumn(100, 100, 5), -4);
    EXPECT_EQ(cursorColumn(150, 100, 2), 0);  // -50 / 100 truncates toward zero
    EXPECT_EQ(cursorColumn(7, 0, 3), 4);      // a zoom below 1 counts as 1
    EXPECT_EQ(cursorColumn(3000000000LL, 1000000, 1000), 2000);
}

TEST(PlaybackLoop, PlaysTheWholeRecordingOnceAndLetsTheEndBeHeard) {
    Session t;
    t.doc = rampMono16(20000);
    t.host.stop = true;  // left over from an earlier STOP: cleared at the start
    EXPECT_EQ(t.run(), PlaybackEnd::finished);
    EXPECT_EQ(t.device.calls, (std::vector<std::string>{"open", "start", "write", "write", "write", "drain", "stop"}));
    ASSERT_EQ(t.device.blocks.size(), 3u);
    for (int16_t v : t.device.blocks[0]) ASSERT_EQ(v, 0);  // the leading silence
    const std::vector<int16_t> left = t.device.playedLeft();
    const std::vector<int16_t> right = t.device.playedRight();
    for (int k = 0; k < 20000; ++k) ASSERT_EQ(left[k], k + 1) << k;
    EXPECT_EQ(left, right);
    for (size_t k = 20000; k < left.size(); ++k) ASSERT_EQ(left[k], 0) << k;
    EXPECT_EQ(t.host.pumps, 2);
    EXPECT_FALSE(t.host.stop);
    // A device that cannot tell what is heard is taken to play the block
    // before the last one written; once drained, the cursor is at the end.
    EXPECT_EQ(t.cursor, (std::vector<int64_t>{0, 200}));
}

TEST(PlaybackLoop, SelectionDraggedEitherWayPlaysTheSameFrames) {
    std::vector<std::vector<int16_t>> played;
    for (bool backward : {false, true}) {
        Session t;
        t.doc = rampMono16(30000);
        t.doc.selectionStart = backward ? 25000 : 12000;
        t.doc.selectionEnd = backward ? 12000 : 25000;
        EXPECT_EQ(t.run(), PlaybackEnd::finished);
        EXPECT_EQ(t.device.blocks.size(), 3u);
        played.push_back(t.device.playedLeft());
    }
    EXPECT_EQ(played[0], played[1]);
    EXPECT_EQ(playedFrames(played[0], 3), (std::vector<int>{12000, 12001, 12002}));
    EXPECT_EQ(played[0][12999], 25000);  // frame 24999, the last one inside
    EXPECT_EQ(played[0][13000], 0);      // frame 25000 is left out
}

TEST(PlaybackLoop, StereoCursorCountsSampleIndices) {
    Session t;
    std::vector<uint8_t> bytes(2 * 12000, 128);
    t.doc = makeDocument(bytes, 44100, true, false);
    t.view = {10, 100};
    t.device.paced = true;
    EXPECT_EQ(t.run(), PlaybackEnd::finished);
    // Frame 0 at the start and frame 12000 (the end) are sample indices 0 and 24000.
    ASSERT_GE(t.cursor.size(), 2u);
    EXPECT_EQ(t.cursor.front(), (0 - 1000) / 10);
    EXPECT_EQ(t.cursor.back(), (24000 - 1000) / 10);
    // In between, the device's 20 ms steps move it on, by 2 * 882 / 10 columns.
    ASSERT_GT(t.cursor.size(), 4u);
    EXPECT_NEAR(double(t.cursor[2] - t.cursor[1]), 2 * 882 / 10.0, 2.0);  // each truncated
}

TEST(PlaybackLoop, EmptyRangePlaysOneSilentBlock) {
    for (bool loop : {false, true}) {
        Session t;
        t.loop = loop;
        t.doc = makeDocument(std::vector<uint8_t>(40, 200), 44100, true, false);
        t.doc.selectionStart = 4;
        t.doc.selectionEnd = 5;  // frames 2 to 2
        EXPECT_EQ(t.run(), PlaybackEnd::finished);
        ASSERT_EQ(t.device.blocks.size(), 2u);
        for (int16_t v : t.device.blocks[1]) ASSERT_EQ(v, 0);
    }
    Session none;  // no recording at all
    EXPECT_EQ(none.run(), PlaybackEnd::finished);
    EXPECT_EQ(none.device.blocks.size(), 2u);
}

TEST(PlaybackLoop, LoopRepeatsTheRangeAfterTheBlockOfItsEndUntilStop) {
    Session t;
    t.loop = true;
    t.doc = rampMono16(1000);
    t.doc.selectionStart = 900;
    t.doc.selectionEnd = 100;
    t.host.onPump = [&](int n) {
        if (n == 4) t.host.stop = true;
    };
    EXPECT_EQ(t.run(), PlaybackEnd::stopped);
    // Five passes were computed; each block holds the range once, then silence.
    ASSERT_EQ(t.device.blocks.size(), 6u);
    for (size_t b = 1; b < 6; ++b) {
        const auto& block = t.device.blocks[b];
        ASSERT_EQ(block[0], 101);
        ASSERT_EQ(block[2 * 799], 900);
        ASSERT_EQ(block[2 * 800], 0);
    }
    EXPECT_EQ(t.device.calls.back(), "stop");
    EXPECT_EQ(std::count(t.device.calls.begin(), t.device.calls.end(), "drain"), 0);
}

TEST(PlaybackLoop, UntickingTheLoopBoxFinishesTheCurrentPass) {
    Session t;
    t.loop = true;
    t.doc = rampMono16(15000);  // two blocks per pass
    t.host.onPump = [&](int n) {
        if (n == 3) t.loop = false;  // during the second block of the second pass
    };
    EXPECT_EQ(t.run(), PlaybackEnd::finished);
    ASSERT_EQ(t.device.blocks.size(), 5u);
    EXPECT_EQ(t.device.blocks[3][0], 1);                       // second pass starts again at frame 0
    EXPECT_EQ(t.device.blocks[4][0], kBlockFrames + 1);        // and runs to its end
    EXPECT_EQ(t.device.calls[t.device.calls.size() - 2], "drain");
}

TEST(PlaybackLoop, StopEndsAfterTheCurrentBlockWithoutWaitingForTheDevice) {
    Session t;
    t.doc = rampMono16(30000);
    t.device.onWrite = [&](int index) {
        if (index == 1) t.host.stop = true;  // STOP while the first block plays
    };
    EXPECT_EQ(t.run(), PlaybackEnd::stopped);
    EXPECT_EQ(t.device.blocks.size(), 2u);
    EXPECT_EQ(t.device.calls.back(), "stop");
    EXPECT_EQ(std::count(t.device.calls.begin(), t.device.calls.end(), "drain"), 0);
}

TEST(PlaybackLoop, ReadsARecordingReplacedWhilePlaying) {
    Session t;
    t.doc = rampMono16(30000);
    t.host.onPump = [&](int n) {
        if (n == 1) {
            // An effect or a file opened while playing: now 8-bit stereo at
            // 22050 Hz, 6000 frames. The range stays, limited by the new length.
            std::vector<uint8_t> bytes;
            for (int k = 0; k < 6000; ++k) {
                bytes.push_back(static_cast<uint8_t>(k % 256));
                bytes.push_back(200);
            }
            t.doc = makeDocument(bytes, 22050, true, false);
        }
    };
    EXPECT_EQ(t.run(), PlaybackEnd::finished);
    // The second block starts at position 11025 which is past the new end.
    ASSERT_EQ(t.device.blocks.size(), 3u);
    for (int16_t v : t.device.blocks[2]) ASSERT_EQ(v, 0);
    // The cursor stops at the end of the recording as it is now.
    EXPECT_EQ(t.cursor.back(), 2 * 6000 / 100);
}

TEST(PlaybackLoop, ReadsAShortenedRecordingAndTheNewRateAfterEachPump) {
    Session t;
    t.doc = rampMono16(30000);
    t.host.onPump = [&](int n) {
        if (n == 1) {
            t.doc = rampMono16(12000, 22050);  // cut, then slower
        }
    };
    EXPECT_EQ(t.run(), PlaybackEnd::finished);
    ASSERT_EQ(t.device.blocks.size(), 3u);
    const auto& second = t.device.blocks[2];
    // Positions 11025, 11025.5, 11026, 11026.5, 11027 at half speed: frames
    // 11025, 11026, 11026, 11026, 11027 (halves to even).
    EXPECT_EQ(std::vector<int>({second[0], second[2], second[4], second[6], second[8]}),
              (std::vector<int>{11026, 11027, 11027, 11027, 11028}));
    EXPECT_EQ(second[2 * 1948], 12000);  // frame 11999, the last one
    EXPECT_EQ(second[2 * 1949], 0);
}

TEST(PlaybackLoop, DeviceThatStopsTakingBlocksEndsLikeStop) {
    Session t;
    t.loop = true;
    t.doc = rampMono16(30000);
    t.device.timeOutAtWrite = 2;
    EXPECT_EQ(t.run(), PlaybackEnd::deviceFailed);
    EXPECT_TRUE(t.host.stop);
    EXPECT_EQ(t.device.calls.back(), "stop");
    EXPECT_EQ(std::count(t.device.calls.begin(), t.device.calls.end(), "drain"), 0);

    Session dead;
    dead.doc = rampMono16(100);
    dead.device.startSucceeds = false;
    EXPECT_EQ(dead.run(), PlaybackEnd::notStarted);
    EXPECT_EQ(dead.host.pumps, 0);
}

// The cursor against a device with a clock and a latency of its own: at
// every moment it shows the source frame the device says is being heard,
// moves between the blocks, stops at the range's end and never passes it.
struct FollowCase {
    int32_t rate;
    bool selection;
    long latency;
};

TEST(PlaybackCursor, ShowsTheFrameTheDeviceSaysIsHeard) {
    for (const FollowCase c : {FollowCase{44100, false, 0}, FollowCase{44100, true, 9000},
                               FollowCase{22050, true, 30000}, FollowCase{11025, false, 4410}}) {
        Session t;
        t.doc = rampMono16(30000, c.rate);
        if (c.selection) {
            t.doc.selectionStart = 20500;
            t.doc.selectionEnd = 3000;
        }
        const FrameRange range = t.doc.selectedFrames();
        t.view = {1, 0};
        t.device.paced = true;
        t.device.latencyFrames = c.latency;
        std::vector<std::pair<int64_t, int64_t>> seen;  // heard output frames, cursor
        PlaybackCallbacks cb;
        cb.loopChecked = [] { return false; };
        cb.recording = [&]() -> const AudioDocument& { return t.doc; };
        cb.view = [&] { return t.view; };
        cb.drawCursor = [&](int64_t column) { seen.emplace_back(t.device.heardFrames(), column); };
        t.device.open();
        EXPECT_EQ(runPlayback(t.device, t.host, cb), PlaybackEnd::finished);

        const double step = double(c.rate) / kPlaybackRate;
        const int64_t blocks = int64_t(std::ceil(double(range.hi - range.lo) / step / kBlockFrames));
        EXPECT_GT(seen.size(), size_t(blocks) * 4) << "the cursor moves between the blocks too";
        for (const auto& [heard, column] : seen) {
            // The first block is the leading silence.
            const int64_t into = std::max<int64_t>(0, heard - kBlockFrames);
            const int64_t frame = std::min<int64_t>(range.lo + roundHalfEven(double(into) * step), range.hi);
            ASSERT_EQ(column, frame) << "rate " << c.rate << " latency " << c.latency << " heard " << heard;
        }
        EXPECT_EQ(seen.front().second, range.lo);
        EXPECT_EQ(seen.back().second, range.hi);
        for (size_t i = 1; i < seen.size(); ++i) ASSERT_GT(seen[i].second, seen[i - 1].second);
    }
}

TEST(PlaybackCursor, GoesBackToTheStartWhenTheLoopDoes) {
    Session t;
    t.loop = true;
    t.doc = rampMono16(40000);
    t.doc.selectionStart = 5000;
    t.doc.selectionEnd = 20000;  // 15000 frames: two blocks per pass
    t.view = {1, 0};
    t.device.paced = true;
    t.device.latencyFrames = 2000;
    t.host.onPump = [&](int n) { t.host.stop = n == 7; };
    EXPECT_EQ(t.run(), PlaybackEnd::stopped);
    // Up to the end, back to the start, up to the end again.
    const auto atEnd = std::find(t.cursor.begin(), t.cursor.end(), 20000);
    ASSERT_NE(atEnd, t.cursor.end());
    ASSERT_NE(atEnd + 1, t.cursor.end());
    EXPECT_LT(atEnd[1], 5000 + 1000);
    EXPECT_NE(std::find(atEnd + 1, t.cursor.end(), 20000), t.cursor.end());
    EXPECT_EQ(*std::max_element(t.cursor.begin(), t.cursor.end()), 20000);
    EXPECT_EQ(*std::min_element(t.cursor.begin(), t.cursor.end()), 5000);
}

TEST(PlaybackCursor, HeardPositionOfBlocksAndSilence) {
    HeardPosition p(FrameRange{100, 5000});
    EXPECT_EQ(p.sourceFrame(0), 100);  // nothing written yet
    p.written(100, 0, 100);            // the leading silence
    EXPECT_EQ(p.sourceFrame(7000), 100);
    p.written(100, 0.5, 5000);
    EXPECT_EQ(p.sourceFrame(kBlockFrames + 3), 102);  // 101.5 rounds to even
    EXPECT_EQ(p.sourceFrame(kBlockFrames + 5), 102);  // 102.5 too
    p.written(100 + kBlockFrames * 0.5, 1, 5000);
    EXPECT_EQ(p.sourceFrame(2 * kBlockFrames + 4000), 5000);  // silence past the end
    EXPECT_EQ(p.sourceFrame(1000000), 5000);                  // all heard
    // A device that cannot tell: the block before the last one written.
    EXPECT_EQ(p.sourceFrame(-1), 100);
}

}  // namespace
}  // namespace notavox
