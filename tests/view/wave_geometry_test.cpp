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

TEST(WaveView, Stereo16EvenZoomShowsLeftChannelAndScrollOffset) {
    AudioDocument doc = Make16({32767, -32768, 0, -32768, 32767, -32768, 0, -32768}, true);
    WaveViewPicture zig;
    ComputeWaveView(doc, 1, 0, 4, 200, zig);
    ASSERT_EQ(zig.trace.size(), 4u);
    EXPECT_EQ(zig.trace[0].y, 199);
    EXPECT_EQ(zig.trace[1].y, 1);
    WaveViewPicture left;
    ComputeWaveView(doc, 2, 1, 10, 200, left);  // columns show indices 2, 4, 6
    ASSERT_EQ(left.trace.size(), 3u);
    EXPECT_EQ(left.trace[0].y, 100);
    EXPECT_EQ(left.trace[1].y, 199);
    EXPECT_EQ(left.trace[2].y, 100);
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

TEST(WaveView, ReadsAtMostOneValuePerColumnOfALongRecording) {
    AudioDocument doc = Make16(std::vector<int>(200000, 5), true);
    WaveViewPicture pic;
    ComputeWaveView(doc, 1, 0, 640, 100, pic);
    EXPECT_EQ(pic.trace.size(), 640u);
    ComputeWaveView(doc, 1000000, 0, 640, 100, pic);
    EXPECT_EQ(pic.trace.size(), 1u);
}
