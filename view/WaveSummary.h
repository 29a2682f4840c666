// The lowest and highest sample value of every block of the recording, in two
// levels (blocks of 256 and of 16384 sample indices), so that a view zoomed
// far out finds the range of each pixel column in a few steps instead of
// reading every sample it covers. Built once per change of the samples (the
// document's revision) and kept by the view.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/AudioDocument.h"

namespace notavox {

struct ValueRange {
    int32_t lo = 0;
    int32_t hi = 0;
};

class WaveSummary {
public:
    static constexpr int64_t kSmallBlock = 256;
    static constexpr int64_t kLargeBlock = 256 * 64;

    // True when the summary was built from the document as it is now.
    bool matches(const AudioDocument& doc) const;
    // Builds the summary unless it matches already.
    void update(const AudioDocument& doc);

    // The range of the sample values [from, to) (sample indices, limited to
    // the recording): signed 16-bit values, or the bytes 0..255 of 8-bit
    // data. False when the range holds no sample.
    bool range(const AudioDocument& doc, int64_t from, int64_t to, ValueRange& out) const;

private:
    const uint8_t* data_ = nullptr;
    int32_t byteCount_ = -1;
    bool sixteenBit_ = false;
    uint64_t revision_ = 0;
    std::vector<ValueRange> small_;
    std::vector<ValueRange> large_;
};

// The same range read sample by sample, without a summary.
bool ScanValueRange(const AudioDocument& doc, int64_t from, int64_t to, ValueRange& out);

}  // namespace notavox
