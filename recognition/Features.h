// The network's input: a log-frequency spectrogram of the 16 kHz signal.
// 294 triangular filters, three per semitone (bin 3k + 1 is key k, MIDI
// 21 + k), each on the spectrum of one of three windows centred on sample
// 160 t: below C5 (MIDI 72), where keys lie close together, 2048 samples;
// from C5 to B5 1024; from C6 up 512, where onsets then stand out sharper in
// time. A window of N samples is periodic Hann, its spectrum |X_k| / (N/4);
// feat = ln(1 + 10000 E) / ln(10001). Float32 throughout, sixteen frames at a
// time (BatchFft); a frame's values do not depend on its neighbours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "transcription/Fft.h"

namespace notavox::recognition {

constexpr int32_t kModelRate = 16000;
constexpr int32_t kHop = 160;
constexpr int kFeatureBins = 294;
constexpr int kFftSize = 2048;                // the longest window
constexpr int kHalfSize = kFftSize / 2;       // its transform's complex points
constexpr int kSpectrumBins = kHalfSize + 1;  // its bins 0..1024
constexpr int kKeys = 88;

// Frames of a signal of `samples` samples: samples / 160 + 1, none for none.
int64_t FrameCount(int64_t samples);

// The three windows: their lengths, and the first filter of each.
constexpr int kWindows = 3;
constexpr int kWindowSizes[kWindows] = {2048, 1024, 512};
constexpr int kWindowFirstKey[kWindows] = {0, 72, 84};  // MIDI; the first window from the bottom

// One filter: weights for the spectrum bins first, first + 1, ... of the
// spectrum of window `window`.
struct FilterBin {
    int window = 0;
    int first = 0;
    std::vector<float> weights;
};
// The 294 filters, each normalised to a sum of 1.
std::vector<FilterBin> BuildFilterbank();

class FeatureExtractor {
public:
    FeatureExtractor();

    // Frames [t0, t0 + count). `samples[i]` is sample `first + i` of the
    // signal; the buffer covers every sample the frames touch, with zeros
    // outside the signal. Feature j of frame t goes to out[j * stride + t - t0].
    void compute(const float* samples, int64_t first, int64_t t0, int count, float* out, size_t stride) const;

    const std::vector<FilterBin>& filters() const { return filters_; }

private:
    BatchFft fft_[kWindows];
    std::vector<float> window_[kWindows];
    int firstFilter_[kWindows + 1] = {};  // filters of window w: [firstFilter_[w], firstFilter_[w + 1])
    std::vector<FilterBin> filters_;
    std::vector<float> weights_;  // all filter weights in bin order
    std::vector<int> firstBin_, binCount_, weightAt_;
};

}  // namespace notavox::recognition
