#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "audio/AudioDocument.h"
#include "audio/DocBuilder.h"

using namespace notavox;

namespace {

// Writes a pattern into every byte and checks it.
bool fillAndCheck(uint8_t* p, size_t size, uint8_t seed) {
    for (size_t i = 0; i < size; ++i) p[i] = uint8_t(i * 7 + seed);
    for (size_t i = 0; i < size; ++i)
        if (p[i] != uint8_t(i * 7 + seed)) return false;
    return true;
}

}  // namespace

// The one rule by which crop, cut, the effects, playback and undo turn the
// selection into frames.
TEST(SelectedFrames, WholeRecordingOrOrderedLimitedHalvedSelection) {
    using notavox::testing::Select;
    using R = std::pair<int64_t, int64_t>;
    AudioDocument stereo = notavox::testing::Make16(std::vector<int>(12, 0), true);  // 6 frames
    auto frames = [](const AudioDocument& d) { return std::pair{d.selectedFrames().lo, d.selectedFrames().hi}; };
    EXPECT_EQ(frames(stereo), R(0, 6));
    Select(stereo, 7, 7);  // a click selects nothing
    EXPECT_EQ(frames(stereo), R(0, 6));
    Select(stereo, 8, 3);  // either end may be the larger; a right value falls back to its frame
    EXPECT_EQ(frames(stereo), R(1, 4));
    Select(stereo, 4, 5);  // both ends in one frame: no frame
    EXPECT_EQ(frames(stereo), R(2, 2));
    Select(stereo, 2, 100);  // limited to the recording
    EXPECT_EQ(frames(stereo), R(1, 6));
    Select(stereo, -40, 5);  // a negative end counts as 0, never as a huge one
    EXPECT_EQ(frames(stereo), R(0, 2));
    AudioDocument mono = notavox::testing::Make8(std::vector<int>(10, 128), false);
    Select(mono, 9, 3);
    EXPECT_EQ(frames(mono), R(3, 9));
}

TEST(AllocateBlock, BlocksAroundThePrefaultSizeAreWholeHeapBlocks) {
    EXPECT_FALSE(allocateBlock(0));
    const size_t big = kPrefaultedBlockSize;
    for (size_t size : {size_t(1), big - 1, big, big + 1, big + 4095, 3 * big + 17}) {
        SampleBlock block = allocateBlock(size);
        ASSERT_TRUE(block) << size;
        ASSERT_TRUE(fillAndCheck(block.get(), size, 3)) << size;
        // The CD reader grows and trims its block with realloc and hands it
        // over; the bytes must survive both ways and free() must take it.
        void* grown = std::realloc(block.release(), size * 2 + 1);
        ASSERT_NE(grown, nullptr);
        block.reset(static_cast<uint8_t*>(grown));
        for (size_t i = 0; i < size; ++i) ASSERT_EQ(block[i], uint8_t(i * 7 + 3)) << size << " at " << i;
        ASSERT_TRUE(fillAndCheck(block.get(), size * 2 + 1, 5));
        void* trimmed = std::realloc(block.release(), size);
        ASSERT_NE(trimmed, nullptr);
        block.reset(static_cast<uint8_t*>(trimmed));
        for (size_t i = 0; i < size; ++i) ASSERT_EQ(block[i], uint8_t(i * 7 + 5)) << size << " at " << i;
    }
}

TEST(AllocateBlock, ReplacingTheRecordingReleasesTheOldBlock) {
    AudioDocument doc;
    for (int round = 0; round < 4; ++round) {
        const size_t size = kPrefaultedBlockSize * size_t(round + 1) + size_t(round);
        SampleBlock block = allocateBlock(size);
        ASSERT_TRUE(block);
        ASSERT_TRUE(fillAndCheck(block.get(), size, uint8_t(round)));
        doc.replace(std::move(block), int32_t(size), 44100, true, true);
        EXPECT_EQ(doc.byteCount, int32_t(size));
        EXPECT_EQ(doc.sampleData[size - 1], uint8_t((size - 1) * 7 + round));
    }
    doc.replace(SampleBlock(), 0);
    EXPECT_EQ(doc.byteCount, 0);
    EXPECT_FALSE(doc.sampleData);
}

// Audio that arrives in pieces (CD reads, decoded MP3 frames) ends as one
// block that holds exactly what came.
TEST(PcmCollector, GrowsInPiecesTrimsAndRefusesWhatNoRecordingHolds) {
    PcmCollector pcm;
    pcm.reserve(100);
    EXPECT_FALSE(pcm.take());  // room but no audio: no block
    std::vector<uint8_t> piece(300);
    for (size_t i = 0; i < piece.size(); ++i) piece[i] = uint8_t(i);
    for (int k = 0; k < 10; ++k) ASSERT_TRUE(pcm.append(piece.data(), piece.size()));
    ASSERT_TRUE(pcm.append(piece.data(), 0));
    EXPECT_FALSE(pcm.append(piece.data(), size_t(INT32_MAX) - 2999));  // past 2147483647 bytes; nothing added
    EXPECT_EQ(pcm.size(), 3000u);
    SampleBlock block = pcm.take();
    ASSERT_TRUE(block);
    for (size_t i = 0; i < 3000; ++i) ASSERT_EQ(block[i], uint8_t(i % 300)) << i;
    EXPECT_EQ(pcm.size(), 0u);
    EXPECT_FALSE(pcm.take());
}
