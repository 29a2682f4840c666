#include "recognition/BatchFft.h"

#include <cmath>

#include "recognition/Vec.h"

namespace notavox::recognition {

BatchFft::BatchFft(int size)
    : size_(size), bitReverse_(size_t(size / 2)), twiddleRe_(size_t(size / 4)), twiddleIm_(size_t(size / 4)),
      untangleRe_(size_t(size / 2 + 1)), untangleIm_(size_t(size / 2 + 1)) {
    const int half = size / 2;
    int bits = 0;
    while ((1 << bits) < half) ++bits;
    for (int m = 0; m < half; ++m) {
        int r = 0;
        for (int b = 0; b < bits; ++b) r |= ((m >> b) & 1) << (bits - 1 - b);
        bitReverse_[size_t(m)] = r;
    }
    for (int j = 0; j < half / 2; ++j) {
        const double a = -2.0 * M_PI * j / half;
        twiddleRe_[size_t(j)] = float(std::cos(a));
        twiddleIm_[size_t(j)] = float(std::sin(a));
    }
    for (int k = 0; k <= half; ++k) {
        const double a = -2.0 * M_PI * k / size;
        untangleRe_[size_t(k)] = float(std::cos(a));
        untangleIm_[size_t(k)] = float(std::sin(a));
    }
}

namespace {

NOTAVOX_VECTOR_CLONES
void transform(int points, float* re, float* im, const float* twRe, const float* twIm, const float* unRe,
               const float* unIm, float* mag) {
    // Radix-2 decimation in time; the input is already in bit-reversed order.
    for (int half = 1; half < points; half *= 2) {
        const int step = points / (2 * half);
        for (int start = 0; start < points; start += 2 * half) {
            for (int j = 0; j < half; ++j) {
                const float wr = twRe[j * step];
                const float wi = twIm[j * step];
                float* ar = re + (start + j) * kLanes;
                float* ai = im + (start + j) * kLanes;
                float* br = re + (start + j + half) * kLanes;
                float* bi = im + (start + j + half) * kLanes;
                const Vf xr = loadv(br), xi = loadv(bi);
                const Vf tr = xr * wr - xi * wi;
                const Vf ti = xr * wi + xi * wr;
                const Vf yr = loadv(ar), yi = loadv(ai);
                storev(ar, yr + tr);
                storev(ai, yi + ti);
                storev(br, yr - tr);
                storev(bi, yi - ti);
            }
        }
    }
    // Untangle the spectra of the even and the odd samples: Z_points is Z_0.
    const float scale = 1.0f / float(points / 2);
    for (int k = 0; k <= points; ++k) {
        const int a = k == points ? 0 : k;
        const int b = k == 0 ? 0 : points - k;
        const Vf ar = loadv(re + a * kLanes), ai = loadv(im + a * kLanes);
        const Vf br = loadv(re + b * kLanes), bi = -loadv(im + b * kLanes);
        const Vf er = 0.5f * (ar + br), ei = 0.5f * (ai + bi);
        const Vf orr = 0.5f * (ai - bi), oi = -0.5f * (ar - br);
        const Vf xr = er + (orr * unRe[k] - oi * unIm[k]);
        const Vf xi = ei + (oi * unRe[k] + orr * unIm[k]);
        storev(mag + k * kLanes, sqrtv(xr * xr + xi * xi) * scale);
    }
}

}  // namespace

void BatchFft::magnitudes(float* re, float* im, float* mag) const {
    transform(size_ / 2, re, im, twiddleRe_.data(), twiddleIm_.data(), untangleRe_.data(), untangleIm_.data(), mag);
}

}  // namespace notavox::recognition
