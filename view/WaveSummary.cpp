#include "view/WaveSummary.h"

#include <algorithm>
#include <cstring>

#include "audio/Parallel.h"

namespace notavox {

namespace {

inline int32_t valueAt(const uint8_t* p, bool sixteenBit, int64_t i) {
    if (!sixteenBit) return p[i];
    int16_t s;
    std::memcpy(&s, p + 2 * i, 2);
    return s;
}

inline void widen(ValueRange& r, const ValueRange& by) {
    r.lo = std::min(r.lo, by.lo);
    r.hi = std::max(r.hi, by.hi);
}

template <class T>
ValueRange scanValues(const T* v, int64_t from, int64_t to) {
    T lo = v[from];
    T hi = v[from];
    for (int64_t i = from + 1; i < to; ++i) {
        lo = std::min(lo, v[i]);
        hi = std::max(hi, v[i]);
    }
    return ValueRange{lo, hi};
}

ValueRange scan(const uint8_t* p, bool sixteenBit, int64_t from, int64_t to) {
    if (!sixteenBit) return scanValues(p, from, to);
    // The block comes from the heap and 16-bit data starts at its beginning,
    // so the values are aligned.
    return scanValues(reinterpret_cast<const int16_t*>(p), from, to);
}

}  // namespace

bool ScanValueRange(const AudioDocument& doc, int64_t from, int64_t to, ValueRange& out) {
    from = std::max<int64_t>(from, 0);
    to = std::min<int64_t>(to, doc.sampleCount());
    if (!doc.sampleData || from >= to) return false;
    out = scan(doc.sampleData.get(), doc.sixteenBit, from, to);
    return true;
}

bool WaveSummary::matches(const AudioDocument& doc) const {
    return data_ == doc.sampleData.get() && byteCount_ == doc.byteCount && sixteenBit_ == doc.sixteenBit &&
           revision_ == doc.revision;
}

void WaveSummary::update(const AudioDocument& doc) {
    if (matches(doc)) return;
    data_ = doc.sampleData.get();
    byteCount_ = doc.byteCount;
    sixteenBit_ = doc.sixteenBit;
    revision_ = doc.revision;
    const int64_t n = data_ ? doc.sampleCount() : 0;
    small_.assign(size_t((n + kSmallBlock - 1) / kSmallBlock), ValueRange{});
    large_.assign(size_t((n + kLargeBlock - 1) / kLargeBlock), ValueRange{});
    if (n == 0) return;
    const uint8_t* p = data_;
    const bool wide = sixteenBit_;
    // Every part takes whole large blocks, so no two parts write one entry.
    const int64_t largeCount = int64_t(large_.size());
    const size_t parts = size_t(std::clamp<int64_t>(largeCount / 16, 1, CoreCount()));
    RunInParts(parts, [&](size_t part) {
        const int64_t l0 = largeCount * int64_t(part) / int64_t(parts);
        const int64_t l1 = largeCount * int64_t(part + 1) / int64_t(parts);
        for (int64_t l = l0; l < l1; ++l) {
            const int64_t s0 = l * (kLargeBlock / kSmallBlock);
            const int64_t s1 = std::min<int64_t>(s0 + kLargeBlock / kSmallBlock, int64_t(small_.size()));
            ValueRange big = scan(p, wide, s0 * kSmallBlock, std::min(s0 * kSmallBlock + kSmallBlock, n));
            for (int64_t s = s0; s < s1; ++s) {
                small_[size_t(s)] = scan(p, wide, s * kSmallBlock, std::min(s * kSmallBlock + kSmallBlock, n));
                widen(big, small_[size_t(s)]);
            }
            large_[size_t(l)] = big;
        }
    });
}

bool WaveSummary::range(const AudioDocument& doc, int64_t from, int64_t to, ValueRange& out) const {
    if (!matches(doc)) return ScanValueRange(doc, from, to, out);
    from = std::max<int64_t>(from, 0);
    to = std::min<int64_t>(to, doc.sampleCount());
    if (!data_ || from >= to) return false;
    const uint8_t* p = data_;
    out = ValueRange{valueAt(p, sixteenBit_, from), valueAt(p, sixteenBit_, from)};
    int64_t i = from;
    while (i < to) {
        if (i % kLargeBlock == 0 && i + kLargeBlock <= to) {
            widen(out, large_[size_t(i / kLargeBlock)]);
            i += kLargeBlock;
        } else if (i % kSmallBlock == 0 && i + kSmallBlock <= to) {
            widen(out, small_[size_t(i / kSmallBlock)]);
            i += kSmallBlock;
        } else {
            const int64_t end = std::min(to, (i / kSmallBlock + 1) * kSmallBlock);
            widen(out, scan(p, sixteenBit_, i, end));
            i = end;
        }
    }
    return true;
}

}  // namespace notavox
