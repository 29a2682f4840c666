#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "audio/AudioDocument.h"

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
