#include <gtest/gtest.h>

#include "audio/DocBuilder.h"
#include "audio/EditOps.h"

using namespace notavox;
using namespace notavox::testing;
using V = std::vector<int>;

TEST(EditOps, NothingSelectedLeavesCropAndCutWithoutEffect) {
    AudioDocument doc = Make8({1, 2, 3, 4}, false);
    Select(doc, 2, 2);
    EXPECT_FALSE(CropToSelection(doc));
    EXPECT_FALSE(CutSelection(doc));
    EXPECT_EQ(Values(doc), (V{1, 2, 3, 4}));
    EXPECT_EQ(doc.selectionStart, 2);
    EXPECT_EQ(doc.selectionEnd, 2);
}

TEST(EditOps, CropMonoKeepsHalfOpenRangeInEitherDirection) {
    for (auto [a, b] : {std::pair{1, 4}, std::pair{4, 1}}) {
        AudioDocument doc = Make8({10, 11, 12, 13, 14, 15}, false, 8000);
        Select(doc, a, b);
        ASSERT_TRUE(CropToSelection(doc));
        EXPECT_EQ(Values(doc), (V{11, 12, 13}));
        EXPECT_EQ(doc.selectionStart, 0);
        EXPECT_EQ(doc.selectionEnd, 0);
        EXPECT_EQ(doc.sampleRate, 8000);
        EXPECT_FALSE(doc.sixteenBit);
    }
}

TEST(EditOps, CropStereo16KeepsWholeFramesOfOddEnds) {
    // Frames k hold (100+k, -100-k). Ends 5 and 10 give frames 2, 3, 4.
    V v;
    for (int k = 0; k < 8; ++k) v.insert(v.end(), {100 + k, -100 - k});
    AudioDocument doc = Make16(v, true);
    Select(doc, 10, 5);
    ASSERT_TRUE(CropToSelection(doc));
    EXPECT_EQ(Values(doc), (V{102, -102, 103, -103, 104, -104}));
    EXPECT_EQ(doc.byteCount, 12);
    EXPECT_TRUE(doc.stereo);
}

TEST(EditOps, CropWithEndsInOneFrameLeavesEmptyRecording) {
    AudioDocument doc = Make8({1, 2, 3, 4, 5, 6}, true);
    Select(doc, 4, 5);
    ASSERT_TRUE(CropToSelection(doc));
    EXPECT_EQ(doc.byteCount, 0);
    EXPECT_EQ(doc.sampleData, nullptr);
}

TEST(EditOps, CutRemovesRangeAndKeepsFrameAtLargerEnd) {
    AudioDocument doc = Make8({10, 11, 12, 13, 14, 15}, false);
    Select(doc, 5, 2);  // last sample index as one end
    ASSERT_TRUE(CutSelection(doc));
    EXPECT_EQ(Values(doc), (V{10, 11, 15}));
    EXPECT_EQ(doc.selectionStart, 0);
    EXPECT_FALSE(CutSelection(doc)) << "a second cut needs a new selection";
}

TEST(EditOps, CutStereo8WithEndsInOneFrameKeepsContentButResetsSelection) {
    AudioDocument doc = Make8({1, 2, 3, 4, 5, 6}, true);
    Select(doc, 4, 5);
    ASSERT_TRUE(CutSelection(doc));
    EXPECT_EQ(Values(doc), (V{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(doc.selectionEnd, 0);
}

TEST(EditOps, CutMono16KeepsTrailingOddByte) {
    AudioDocument doc = Make16({1, 2, 3, 4}, false);
    // Append one stray byte to the block, as a WAV data chunk of odd length.
    SampleBlock block = allocateBlock(9);
    std::memcpy(block.get(), doc.sampleData.get(), 8);
    block[8] = 0x7F;
    doc.replace(std::move(block), 9);
    Select(doc, 1, 3);
    ASSERT_TRUE(CutSelection(doc));
    ASSERT_EQ(doc.byteCount, 5);
    EXPECT_EQ(Values(doc), (V{1, 4}));
    EXPECT_EQ(doc.sampleData[4], 0x7F);
}

TEST(EditOps, EndsPastTheDataAreLimitedToTheSampleCount) {
    AudioDocument doc = Make16({1, 2, 3, 4}, true);  // N = 4, two frames
    Select(doc, 2, 1000);
    ASSERT_TRUE(CropToSelection(doc));
    EXPECT_EQ(Values(doc), (V{3, 4}));
}

TEST(EditOps, SelectNothingClearsBothEnds) {
    AudioDocument doc = Make8({1, 2, 3}, false);
    Select(doc, 2, 1);
    SelectNothing(doc);
    EXPECT_EQ(doc.selectionStart, 0);
    EXPECT_EQ(doc.selectionEnd, 0);
    EXPECT_EQ(Values(doc), (V{1, 2, 3}));
}
