#include <gtest/gtest.h>

#include <limits>

#include "audio/DocBuilder.h"
#include "view/WaveGeometry.h"

using namespace notavox;
using namespace notavox::testing;

TEST(ZoomValue, ClampsThenRoundsHalfToEven) {
    EXPECT_EQ(ZoomValueFor(0.0), 1);
    EXPECT_EQ(ZoomValueFor(0.67), 1);
    EXPECT_EQ(ZoomValueFor(-5.0), 1);
    EXPECT_EQ(ZoomValueFor(2.5), 2);
    EXPECT_EQ(ZoomValueFor(3.5), 4);
    EXPECT_EQ(ZoomValueFor(2.51), 3);
    EXPECT_EQ(ZoomValueFor(1.0e7), 1000000);
    EXPECT_EQ(EffectiveZoom(0), 1);
    EXPECT_EQ(EffectiveZoom(-20), 1);
    EXPECT_EQ(EffectiveZoom(150), 150);
}

TEST(ZoomCommands, KleinerAndGroesserStepByOneAndAHalf) {
    EXPECT_EQ(ZoomKleinerValue(100), 150);
    EXPECT_EQ(ZoomKleinerValue(150), 225);
    EXPECT_EQ(ZoomKleinerValue(225), 338);  // 337.5 goes to the even neighbour
    EXPECT_EQ(ZoomKleinerValue(999999), 1000000);
    EXPECT_EQ(ZoomKleinerValue(1000000), 1000000);
    EXPECT_EQ(ZoomGroesserValue(100), 67);
    EXPECT_EQ(ZoomGroesserValue(3), 2);
    EXPECT_EQ(ZoomGroesserValue(1), 1);
}

TEST(ZoomCommands, WholeFileAndSelectionFitTheWidth) {
    EXPECT_EQ(ZoomOutFullValue(1000, 300), 3);
    EXPECT_EQ(ZoomOutFullValue(100, 300), 1);
    EXPECT_EQ(ZoomOutFullValue(0, 300), 1);
    EXPECT_EQ(ZoomOutFullValue(std::numeric_limits<int32_t>::max(), 1), 1000000);
    EXPECT_EQ(ZoomSelValue(1300, 100, 300), 4);
    EXPECT_EQ(ZoomSelPosition(1300, 100, 4), 25);
    EXPECT_EQ(ZoomSelValue(10, 20, 300), 1);
}

TEST(ScrollRange, SpansColumnsRightOfFirstScreenInSixtyFourBits) {
    EXPECT_EQ(ScrollMaximum(10000, 100, 10), 900);
    EXPECT_EQ(ScrollMaximum(500, 100, 10), 1);
    EXPECT_EQ(ScrollMaximum(1000, 100, 10), 1);
    // W*z = 3e9 does not fit 32 bits; the recording fits on one screen.
    EXPECT_EQ(ScrollMaximum(std::numeric_limits<int32_t>::max(), 3000, 1000000), 1);
    EXPECT_EQ(ScrollMaximum(std::numeric_limits<int32_t>::max(), 1, 1), 2147483646);
    EXPECT_EQ(RescaledPosition(50, 100, 900), 450);
    EXPECT_EQ(RescaledPosition(2000000000, 2000000000, 1999999999), 1999999999);
    EXPECT_EQ(RescaledPosition(7, 0, 10), 0);
}

TEST(MouseMapping, ClampsToTheRecordingInSixtyFourBits) {
    EXPECT_EQ(MouseSampleIndex(10, 20, 5, 1000), 250);
    EXPECT_EQ(MouseSampleIndex(10, 0, -5, 1000), 0);
    EXPECT_EQ(MouseSampleIndex(10, 0, 500, 1000), 999);
    // 1000000 * 5000 overflows 32 bits; the index stays at the last sample.
    EXPECT_EQ(MouseSampleIndex(1000000, 2000, 3000, std::numeric_limits<int32_t>::max()),
              std::numeric_limits<int32_t>::max() - 1);
    EXPECT_EQ(MouseSampleIndex(10, 0, 3, 0), -1);
    EXPECT_EQ(ColumnSampleIndex(1000000, 2147483, 999), 2148482000000LL);
}

TEST(SelectionColumns, TruncateTowardZeroAndStayNearTheBitmap) {
    EXPECT_EQ(SelectionColumn(250, 10, 20, 300), 5);
    EXPECT_EQ(SelectionColumn(195, 10, 20, 300), 0);
    EXPECT_EQ(SelectionColumn(100, 10, 20, 300), -1);
    EXPECT_EQ(SelectionColumn(std::numeric_limits<int32_t>::max(), 1, 0, 300), 300);
}

TEST(TraceY, FullScaleAtTheBottomSilenceInTheMiddle) {
    EXPECT_EQ(TraceY8(255, 200), 199);
    EXPECT_EQ(TraceY8(128, 200), 99);
    EXPECT_EQ(TraceY8(0, 200), 0);
    EXPECT_EQ(TraceY16(32767, 200), 199);
    EXPECT_EQ(TraceY16(0, 200), 100);
    EXPECT_EQ(TraceY16(-32768, 200), 1);  // -99.5 truncates to -99
}

TEST(WaveView, Mono8DrawsOnePointPerColumnUntilTheDataEnds) {
    AudioDocument doc = Make8({0, 128, 255}, false);
    WaveViewPicture pic;
    ComputeWaveView(doc, 1, 0, 5, 256, pic);
    ASSERT_EQ(pic.trace.size(), 3u);
    EXPECT_EQ(pic.trace[0].y, 0);
    EXPECT_EQ(pic.trace[1].y, 128);
    EXPECT_EQ(pic.trace[2].x, 2);
    EXPECT_EQ(pic.trace[2].y, 255);
    EXPECT_FALSE(pic.band);
    EXPECT_EQ(pic.markerColumn, 0);
}

TEST(WaveView, Stereo16ZoomOneZigzagsZoomedOutColumnsSpanTheirValues) {
    AudioDocument doc = Make16({32767, -32768, 0, -32768, 32767, -32768, 0, -32768}, true);
    WaveViewPicture zig;
    ComputeWaveView(doc, 1, 0, 4, 200, zig);
    ASSERT_EQ(zig.trace.size(), 4u);
    EXPECT_EQ(zig.trace[0].y, 199);
    EXPECT_EQ(zig.trace[1].y, 1);
    WaveViewPicture spans;
    ComputeWaveView(doc, 2, 1, 10, 200, spans);  // columns cover indices 2-3, 4-5, 6-7
    EXPECT_TRUE(spans.trace.empty());
    ASSERT_EQ(spans.spans.size(), 3u);
    for (const TraceSpan& s : spans.spans) EXPECT_EQ(s.yLow, 1);
    EXPECT_EQ(spans.spans[0].yHigh, 100);
    EXPECT_EQ(spans.spans[1].yHigh, 199);
    EXPECT_EQ(spans.spans[2].x, 2);
    EXPECT_EQ(spans.spans[2].yHigh, 100);
}

TEST(WaveSummary, RangesFromTheSummaryEqualTheScan) {
    std::vector<int> v;
    for (int i = 0; i < 100000; ++i) v.push_back(((i * 7919) % 65536) - 32768);
    AudioDocument doc = Make16(v, false);
    WaveSummary summary;
    EXPECT_FALSE(summary.matches(doc));
    summary.update(doc);
    EXPECT_TRUE(summary.matches(doc));
    for (auto [from, to] : std::vector<std::pair<int64_t, int64_t>>{
             {0, 1}, {0, 256}, {3, 70000}, {16384, 32768}, {255, 16641}, {99990, 200000}, {-5, 10}}) {
        ValueRange a, b;
        ASSERT_TRUE(summary.range(doc, from, to, a));
        ASSERT_TRUE(ScanValueRange(doc, from, to, b));
        EXPECT_EQ(a.lo, b.lo) << from << ".." << to;
        EXPECT_EQ(a.hi, b.hi) << from << ".." << to;
    }
    ValueRange none;
    EXPECT_FALSE(summary.range(doc, 100000, 100010, none));
    // A change of the samples in place shows in the revision: the summary
    // no longer matches and the view reads the samples themselves.
    ++doc.revision;
    EXPECT_FALSE(summary.matches(doc));
}

TEST(WaveView, Mono16OddByteCountNeverReadsTheStrayByte) {
    AudioDocument doc = Make16({100, 200, 300}, false);
    doc.byteCount = 5;
    WaveViewPicture pic;
    ComputeWaveView(doc, 1, 0, 10, 100, pic);
    EXPECT_EQ(pic.trace.size(), 2u);
}

TEST(WaveView, BandOnlyWhenEndsFallIntoDifferentColumns) {
    AudioDocument doc = Make8(std::vector<int>(1000, 128), false);
    Select(doc, 31, 39);  // both in column 3 at zoom 10
    WaveViewPicture pic;
    ComputeWaveView(doc, 10, 0, 50, 100, pic);
    EXPECT_FALSE(pic.band);
    EXPECT_EQ(pic.markerColumn, 3);
    Select(doc, 400, 100);
    ComputeWaveView(doc, 10, 0, 50, 100, pic);
    EXPECT_TRUE(pic.band);
    EXPECT_EQ(pic.bandFrom, 40);
    EXPECT_EQ(pic.bandTo, 10);
    EXPECT_EQ(pic.markerColumn, 40);
}

TEST(WaveView, ReadsOneValuePerColumnAtZoomOneAndOneSpanWhenZoomedFarOut) {
    AudioDocument doc = Make16(std::vector<int>(200000, 5), true);
    WaveViewPicture pic;
    ComputeWaveView(doc, 1, 0, 640, 100, pic);
    EXPECT_EQ(pic.trace.size(), 640u);
    ComputeWaveView(doc, 1000000, 0, 640, 100, pic);
    EXPECT_EQ(pic.spans.size(), 1u);
}
