// The network's outputs of a whole analysis, kept so that the notes can be
// decoded again with other thresholds without running the network: per
// frame and key the onset, note-active and velocity values, block by block as
// the analysis gave them. A five-minute recording holds about 32 MB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "recognition/Model.h"
#include "transcription/TranscribedNote.h"

namespace notavox::recognition {

class NetworkOutputs {
public:
    // Keeps at most `limitBytes`; a longer recording keeps nothing (empty()).
    explicit NetworkOutputs(size_t limitBytes = std::numeric_limits<size_t>::max()) : limit_(limitBytes) {}

    // Frames [t0, t0 + count) in order after the frames kept so far; key k of
    // frame t at [k * stride + t - t0], as TranscribeOptions::outputs gives them.
    void add(int64_t t0, int count, const float* onset, const float* frame, const float* velocity, size_t stride);
    int64_t frames() const { return frames_; }
    size_t bytes() const;
    bool empty() const { return blocks_.empty(); }
    // The outputs did not fit the limit or the memory and were dropped.
    bool dropped() const { return dropped_; }
    // The notes with these settings; the same as the analysis found with them.
    std::vector<TranscribedNote> decode(const DecodeSettings& settings) const;

private:
    struct Block {
        int64_t t0 = 0;
        int count = 0;
        std::vector<float> values;  // onset, frame, velocity: 3 * 88 * count, key-major
    };
    std::vector<Block> blocks_;
    int64_t frames_ = 0;
    size_t limit_;
    size_t bytes_ = 0;
    bool dropped_ = false;
};

// What the user changes of the model's decoding: "Empfindlichkeit" (the onset
// threshold) and "Kürzeste Note" (the shortest note).
struct DecodeOverrides {
    std::optional<int> sensitivityPercent;  // 1..99: onset threshold 1 - percent / 100
    std::optional<int> shortestNoteMs;      // rounded to whole frames of 10 ms, at least one
};
// The settings with the user's changes. A changed sensitivity moves the
// thresholds of every key by as much as the onset threshold moves (within
// 0.01 to 0.99); a shortest note holds for every key.
DecodeSettings WithOverrides(DecodeSettings settings, const DecodeOverrides& overrides);
// The sensitivity that gives the onset threshold, in whole percent.
int SensitivityPercent(const DecodeSettings& settings);
int ShortestNoteMs(const DecodeSettings& settings);

}  // namespace notavox::recognition
