// The program's Fourier transforms: the double-precision 1024-point FFT of
// the transcription, and the float FFT of sixteen frames at once that the
// accurate analysis and the rhythm analysis take their spectra from.
#pragma once

#include <cstddef>
#include <vector>

namespace notavox {

// The forward 1024-point complex FFT, scaled by 1/1024, of a real input x
// (imaginary parts 0), which stays as it is; the result goes to re and im.
// Its twiddle factors come from a half-angle recurrence, computed once and
// kept, and the butterflies run group by group so that the compiler can
// vectorise them. Every butterfly computes the expressions of the plain
// radix-2 transform (tests/transcription/ReferenceFFT), so the result has
// its very bits.
void FFT1024ForwardReal(const double* x, double* re, double* im);

// The frames one BatchFft transforms at once, one in each lane.
constexpr int kLanes = 16;

// The magnitude spectra of up to sixteen real frames of N samples (N a power
// of two, at least 2): an N/2-point complex FFT of the even and odd samples
// and one untangling pass, float32 throughout, the same operations in the
// same order in every lane, so a frame's spectrum does not depend on the
// frames beside it nor on its lane.
class BatchFft {
public:
    explicit BatchFft(int size);

    int size() const { return size_; }
    int bins() const { return size_ / 2 + 1; }

    // Frame l (l < frames <= 16) is the N samples from x + l * hop, each
    // multiplied by window[n]; its |X_k| / (N/4) for k = 0..N/2 goes to
    // mag[k * 16 + l] ((N/2 + 1) x 16 floats; lanes from `frames` on get 0).
    // re and im are the caller's room for the transform, N/2 x 16 floats each.
    void magnitudes(const float* x, std::ptrdiff_t hop, int frames, const float* window, float* re, float* im,
                    float* mag) const;

private:
    int size_;
    std::vector<int> bitReverse_;
    std::vector<float> twiddleRe_, twiddleIm_;    // e^(-2 pi i j / (N/2)), j < N/4
    std::vector<float> untangleRe_, untangleIm_;  // e^(-2 pi i k / N), k <= N/2
};

}  // namespace notavox
