// The spectrum of sixteen frames at once: an N-point FFT of real input (N a
// power of two up to 2048), done as an N/2-point complex FFT of the even and
// odd samples and one untangling pass. Each of the sixteen lanes holds one
// frame; float32 throughout, the same operations in the same order in every
// lane.
#pragma once

#include <cstddef>
#include <vector>

namespace notavox::recognition {

constexpr int kFftSize = 2048;                    // the longest transform
constexpr int kHalfSize = kFftSize / 2;           // its complex points
constexpr int kSpectrumBins = kHalfSize + 1;      // its bins 0..1024

class BatchFft {
public:
    explicit BatchFft(int size = kFftSize);

    int size() const { return size_; }
    int bins() const { return size_ / 2 + 1; }

    // Where sample n of the frame goes in the input arrays: z[m] = x[2m] +
    // i x[2m + 1] is stored at position slot(m) (bit-reversed order), lane
    // l at index slot(m) * 16 + l.
    int slot(int m) const { return bitReverse_[size_t(m)]; }

    // Transforms re/im (N/2 x 16 each, filled through slot()) in place and
    // writes |X_k| / (N/4) for k = 0..N/2 to mag ((N/2 + 1) x 16).
    void magnitudes(float* re, float* im, float* mag) const;

private:
    int size_;
    std::vector<int> bitReverse_;
    std::vector<float> twiddleRe_, twiddleIm_;    // e^(-2 pi i j / (N/2)), j < N/4
    std::vector<float> untangleRe_, untangleIm_;  // e^(-2 pi i k / N), k <= N/2
};

}  // namespace notavox::recognition
