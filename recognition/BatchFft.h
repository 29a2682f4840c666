// The spectrum of sixteen frames at once: a 2048-point FFT of real input,
// done as a 1024-point complex FFT of the even and odd samples and one
// untangling pass. Each of the sixteen lanes holds one frame; float32
// throughout, the same operations in the same order in every lane.
#pragma once

#include <cstddef>
#include <vector>

namespace notavox::recognition {

constexpr int kFftSize = 2048;
constexpr int kHalfSize = kFftSize / 2;     // 1024 complex points
constexpr int kSpectrumBins = kHalfSize + 1;  // bins 0..1024

class BatchFft {
public:
    BatchFft();

    // Where sample n of the frame goes in the input arrays: z[m] = x[2m] +
    // i x[2m + 1] is stored at position slot(m) (bit-reversed order), lane
    // l at index slot(m) * 16 + l.
    int slot(int m) const { return bitReverse_[size_t(m)]; }

    // Transforms re/im (1024 x 16 each, filled through slot()) in place and
    // writes |X_k| / 512 for k = 0..1024 to mag (1025 x 16).
    void magnitudes(float* re, float* im, float* mag) const;

private:
    std::vector<int> bitReverse_;
    std::vector<float> twiddleRe_, twiddleIm_;  // e^(-2 pi i j / 1024), j < 512
    std::vector<float> untangleRe_, untangleIm_;  // e^(-2 pi i k / 2048), k <= 1024
};

}  // namespace notavox::recognition
