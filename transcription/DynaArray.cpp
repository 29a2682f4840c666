#include "transcription/DynaArray.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace notavox {

TDynaArray::TDynaArray(int32_t elementSize, void** currentVar)
    : currentVar_(currentVar), elementSize_(elementSize > 0 ? elementSize : 1) {}

TDynaArray::~TDynaArray() { std::free(block_); }

int64_t TDynaArray::capacityFor(int64_t count) const {
    if (count <= 0) return 0;
    return static_cast<int64_t>(growStep_) * ((count - 1) / growStep_ + 1) * elementSize_;
}

bool TDynaArray::resizeTo(int64_t count) {
    const int64_t bytes = capacityFor(count);
    if (bytes == capacityBytes_) return true;
    if (bytes > std::numeric_limits<int32_t>::max()) return false;
    if (bytes == 0) {
        std::free(block_);
        block_ = nullptr;
        capacityBytes_ = 0;
        return true;
    }
    void* p = std::realloc(block_, static_cast<size_t>(bytes));
    if (!p) return false;
    block_ = static_cast<uint8_t*>(p);
    capacityBytes_ = static_cast<int32_t>(bytes);
    return true;
}

void TDynaArray::select(int32_t index) {
    cursor_ = index;
    current_ = index >= 0 ? element(index) : nullptr;
    if (currentVar_) *currentVar_ = current_;
}

void* TDynaArray::At(int32_t index) {
    select(index);
    return current_;
}

void* TDynaArray::Append() { return Insert(count_); }

void* TDynaArray::Insert(int32_t index) {
    if (index < 0 || index > count_) return nullptr;
    if (count_ == std::numeric_limits<int32_t>::max() || !resizeTo(int64_t(count_) + 1)) return nullptr;
    ++count_;
    uint8_t* at = static_cast<uint8_t*>(element(index));
    if (index < count_ - 1) std::memmove(at + elementSize_, at, size_t(count_ - 1 - index) * size_t(elementSize_));
    std::memset(at, 0, size_t(elementSize_));
    select(index);
    return current_;
}

void TDynaArray::Delete(int32_t index) {
    if (count_ < 0 || index < 0 || index >= count_) return;
    uint8_t* at = static_cast<uint8_t*>(element(index));
    if (index < count_ - 1) std::memmove(at, at + elementSize_, size_t(count_ - 1 - index) * size_t(elementSize_));
    --count_;
    resizeTo(count_);  // a smaller block always fits; a failed shrink keeps the larger one
    select(-1);
}

void TDynaArray::Swap(int32_t a, int32_t b) {
    if (a < 0 || b < 0 || a >= count_ || b >= count_ || a == b) return;
    uint8_t tmp[256];
    uint8_t* pa = static_cast<uint8_t*>(element(a));
    uint8_t* pb = static_cast<uint8_t*>(element(b));
    for (int32_t off = 0; off < elementSize_; off += int32_t(sizeof tmp)) {
        const size_t n = size_t(elementSize_ - off) < sizeof tmp ? size_t(elementSize_ - off) : sizeof tmp;
        std::memcpy(tmp, pa + off, n);
        std::memcpy(pa + off, pb + off, n);
        std::memcpy(pb + off, tmp, n);
    }
}

void TDynaArray::First() {
    if (count_ > 0) select(0);
}

bool TDynaArray::Next() {
    if (count_ >= 1 && cursor_ >= 0 && cursor_ <= count_ - 1) {
        current_ = element(cursor_);
        if (currentVar_) *currentVar_ = current_;
        ++cursor_;
        return true;
    }
    return false;
}

void TDynaArray::Clear() {
    count_ = 0;
    std::free(block_);
    block_ = nullptr;
    capacityBytes_ = 0;
    select(-1);
}

void* TDynaArray::AppendMany(const void* source, int32_t n) {
    if (n <= 0 || int64_t(count_) + n > std::numeric_limits<int32_t>::max()) return nullptr;
    if (!resizeTo(int64_t(count_) + n)) return nullptr;
    std::memcpy(element(count_), source, size_t(n) * size_t(elementSize_));
    count_ += n;
    select(count_ - 1);
    return current_;
}

void TDynaArray::Truncate(int32_t n) {
    if (n < 0 || n > count_) return;
    count_ = n;
    resizeTo(count_);
    select(-1);
}

}  // namespace notavox
