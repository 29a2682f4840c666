#include "audio/AudioDocument.h"
#include "audio/Parallel.h"

#include <sys/mman.h>

#include <cerrno>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace notavox {

namespace {

bool populate(void* start, size_t length) {
    if (::madvise(start, length, MADV_POPULATE_WRITE) == 0) return true;
    // A kernel without the call says EINVAL: the pages then fault one by
    // one as they are written. Only missing memory is a failure.
    return errno != ENOMEM && errno != EFAULT;
}

// Maps every page of [p, p + size) writable before the block is handed out.
// Memory that was never touched costs a page fault per page on its first
// write, which on some machines makes filling a big block many times slower
// than copying into it; large pages, where the system grants them, cut the
// count of faults by 512, and a very big block is mapped in parts on several
// cores. Returns false only when the pages could not be had at all.
bool prefault(void* p, size_t size) {
    constexpr uintptr_t kPage = 4096;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kPage - 1) & ~(kPage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + size) & ~(kPage - 1);
    if (end <= begin) return true;
    uint8_t* const start = reinterpret_cast<uint8_t*>(begin);
    const size_t length = size_t(end - begin);
    ::madvise(start, length, MADV_HUGEPAGE);

    constexpr size_t kLeastPart = size_t(32) << 20;
    constexpr size_t kLargePage = size_t(2) << 20;
    const size_t parts = std::min<size_t>({length / kLeastPart, CoreCount(), 4});
    if (parts <= 1) return populate(start, length);
    const size_t step = (length / parts) & ~(kLargePage - 1);
    std::vector<char> ok(parts, 1);
    RunInParts(parts, [&](size_t i) {
        const size_t from = i * step;
        const size_t to = i + 1 == parts ? length : from + step;
        ok[i] = populate(start + from, to - from);
    });
    return std::all_of(ok.begin(), ok.end(), [](char c) { return c != 0; });
}

}  // namespace

SampleBlock allocateBlock(size_t size) {
    if (size == 0) return SampleBlock();
    void* p = std::malloc(size);
    if (p && size >= kPrefaultedBlockSize && !prefault(p, size)) {
        std::free(p);
        p = nullptr;
    }
    return SampleBlock(static_cast<uint8_t*>(p));
}

bool PcmCollector::append(const uint8_t* data, size_t n) {
    if (n == 0) return true;
    if (n > size_t(INT32_MAX) - size_) return false;
    if (size_ + n > capacity_ && !grow(std::max(size_ + n, std::min<size_t>(capacity_ * 2, INT32_MAX)))) return false;
    std::memcpy(block_.get() + size_, data, n);
    size_ += n;
    return true;
}

SampleBlock PcmCollector::take() {
    // Give back what was not filled; keep the block if that fails.
    if (size_ == 0) {
        block_.reset();
    } else if (size_ < capacity_) {
        if (void* p = std::realloc(block_.get(), size_)) {
            (void)block_.release();
            block_.reset(static_cast<uint8_t*>(p));
        }
    }
    capacity_ = size_ = 0;
    return std::move(block_);
}

bool PcmCollector::grow(size_t capacity) {
    if (capacity <= capacity_) return true;
    void* p = std::realloc(block_.get(), capacity);
    if (!p) return false;
    (void)block_.release();
    block_.reset(static_cast<uint8_t*>(p));
    capacity_ = capacity;
    return true;
}

FrameRange AudioDocument::selectedFrames() const {
    if (!hasSelection()) return {0, frameCount()};
    const int64_t n = sampleCount();
    const int64_t lo = std::clamp<int64_t>(selectionLow(), 0, n);
    const int64_t hi = std::clamp<int64_t>(selectionHigh(), 0, n);
    return {lo / channelCount(), hi / channelCount()};
}

void AudioDocument::replace(SampleBlock block, int32_t newByteCount, int32_t newSampleRate,
                            bool newStereo, bool newSixteenBit) {
    touch();
    sampleData.reset();
    sampleData = std::move(block);
    byteCount = sampleData ? newByteCount : 0;
    sixteenBit = newSixteenBit;
    stereo = newStereo;
    sampleRate = newSampleRate;
    selectionStart = 0;
    selectionEnd = 0;
}

void AudioDocument::replace(SampleBlock block, int32_t newByteCount) {
    replace(std::move(block), newByteCount, sampleRate, stereo, sixteenBit);
}

}  // namespace notavox
