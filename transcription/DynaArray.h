// TDynaArray: a growable list of fixed-size records stored by value in one
// block that grows and shrinks in steps of 100 elements. The element selected
// last is kept in `current` and mirrored into a variable of the owner.
#pragma once

#include <cstdint>

namespace notavox {

class TDynaArray {
public:
    // `currentVar` may be null; several lists may share one mirror variable.
    TDynaArray(int32_t elementSize, void** currentVar);
    ~TDynaArray();  // frees the block; records' own blocks are the owner's
    TDynaArray(const TDynaArray&) = delete;
    TDynaArray& operator=(const TDynaArray&) = delete;

    // Selects element `index` (no range check: 0..count-1) and returns it.
    void* At(int32_t index);
    // Adds a zero-filled element at the end, selects and returns it; null
    // when the memory is not there (the list is then unchanged).
    void* Append();
    // Adds a zero-filled element at `index` (0..count), selects and returns
    // it; null and no change for any other index.
    void* Insert(int32_t index);
    // Removes element `index`; out-of-range indices change nothing. Clears
    // the selection.
    void Delete(int32_t index);
    // Exchanges two elements when both indices are valid.
    void Swap(int32_t a, int32_t b);
    // Iteration: First, then Next until it returns false; the visited element
    // is `current` and `cursor` its index plus 1.
    void First();
    bool Next();
    void Clear();

    // Appends `n` elements copied from `source` in one step (one grow of the
    // block to the size the capacity rule gives). Selects the last one and
    // returns it; null when n <= 0 or the memory is not there.
    void* AppendMany(const void* source, int32_t n);
    // Keeps the first `n` elements (0 <= n <= count) and shrinks the block as
    // Delete does. Clears the selection.
    void Truncate(int32_t n);

    int32_t count() const { return count_; }
    int32_t cursor() const { return cursor_; }
    void* current() const { return current_; }
    int32_t capacityBytes() const { return capacityBytes_; }
    int32_t growStep() const { return growStep_; }
    int32_t elementSize() const { return elementSize_; }
    // The element storage: count() elements of elementSize() bytes, or null.
    uint8_t* data() const { return block_; }
    // Element `index` without selecting it.
    void* element(int32_t index) const { return block_ + static_cast<int64_t>(index) * elementSize_; }

private:
    int64_t capacityFor(int64_t count) const;
    bool resizeTo(int64_t count);  // applies the capacity rule for `count`
    void select(int32_t index);

    void** currentVar_;
    void* current_ = nullptr;
    uint8_t* block_ = nullptr;
    int32_t count_ = 0;
    int32_t cursor_ = -1;
    int32_t capacityBytes_ = 0;
    int32_t growStep_ = 100;
    int32_t elementSize_;
};

}  // namespace notavox
