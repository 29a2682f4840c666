#include "transcription/Fft.h"

#include <cmath>
#include <cstdint>

#include "transcription/Vec.h"

namespace notavox {

namespace {

constexpr int kPoints = 1024;
constexpr int kStages = 10;

// i with its lowest `bits` bits in reverse order.
int bitReversed(int i, int bits) {
    int r = 0;
    for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    return r;
}

struct Forward1024Tables {
    // Twiddle factors of stage s at offset (1 << s) - 1: the values u1, u2
    // that the recurrence produces for j = 0 .. 2^s - 1.
    alignas(64) double u1[kPoints];
    alignas(64) double u2[kPoints];
    uint16_t reversed[kPoints];  // the input index that lands on each position

    Forward1024Tables() {
        for (int i = 0; i < kPoints; ++i) reversed[i] = static_cast<uint16_t>(bitReversed(i, kStages));
        double c1 = -1.0;
        double c2 = 0.0;
        for (int s = 0; s < kStages; ++s) {
            const int l1 = 1 << s;
            double a = 1.0;
            double b = 0.0;
            for (int jj = 0; jj < l1; ++jj) {
                u1[l1 - 1 + jj] = a;
                u2[l1 - 1 + jj] = b;
                const double z = a * c1 - b * c2;
                b = a * c2 + b * c1;
                a = z;
            }
            c2 = -std::sqrt((1.0 - c1) / 2.0);
            c1 = std::sqrt((1.0 + c1) / 2.0);
        }
    }
};

const Forward1024Tables& forwardTables() {
    static const Forward1024Tables tables;
    return tables;
}

// Four doubles; each operation is the plain IEEE operation on every lane, so
// a lane computes exactly what the scalar code computes.
typedef double Double4 __attribute__((vector_size(32), aligned(8)));

#define NOTAVOX_LOAD(v, p) __builtin_memcpy(&(v), (p), sizeof(Double4))
#define NOTAVOX_STORE(p, v) __builtin_memcpy((p), &(v), sizeof(Double4))

// The stages of butterflies with l1 >= 4: the groups of l2 points, and inside
// a group the offsets jj in steps of four.
NOTAVOX_VECTOR_CLONES void wideStages(double* __restrict re, double* __restrict im, const double* __restrict u1,
                                      const double* __restrict u2) {
    for (int s = 2; s < kStages; ++s) {
        const int l1 = 1 << s;
        const int l2 = l1 * 2;
        const double* w1 = u1 + (l1 - 1);
        const double* w2 = u2 + (l1 - 1);
        for (int base = 0; base < kPoints; base += l2) {
            double* r0 = re + base;
            double* i0 = im + base;
            double* r1 = r0 + l1;
            double* i1 = i0 + l1;
            for (int jj = 0; jj < l1; jj += 4) {
                Double4 a, b, xr, xi, yr, yi;
                NOTAVOX_LOAD(a, w1 + jj);
                NOTAVOX_LOAD(b, w2 + jj);
                NOTAVOX_LOAD(xr, r1 + jj);
                NOTAVOX_LOAD(xi, i1 + jj);
                NOTAVOX_LOAD(yr, r0 + jj);
                NOTAVOX_LOAD(yi, i0 + jj);
                const Double4 t1 = a * xr - b * xi;
                const Double4 t2 = a * xi + b * xr;
                const Double4 o1 = yr - t1, o2 = yi - t2, o3 = yr + t1, o4 = yi + t2;
                NOTAVOX_STORE(r1 + jj, o1);
                NOTAVOX_STORE(i1 + jj, o2);
                NOTAVOX_STORE(r0 + jj, o3);
                NOTAVOX_STORE(i0 + jj, o4);
            }
        }
    }
}

// The butterflies and the untangling pass of BatchFft on sixteen lanes.
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

void FFT1024ForwardReal(const double* __restrict x, double* __restrict re, double* __restrict im) {
    const Forward1024Tables& t = forwardTables();
    // The first two stages on the permuted input, written out: with every
    // imaginary part 0 and the twiddles (1, 0) and (0, -1), the butterflies'
    // products and sums reduce exactly to these sums and differences.
    for (int g = 0; g < kPoints; g += 4) {
        const double p0 = x[t.reversed[g]], p1 = x[t.reversed[g + 1]];
        const double p2 = x[t.reversed[g + 2]], p3 = x[t.reversed[g + 3]];
        const double a0 = p0 + p1, a1 = p0 - p1, a2 = p2 + p3, a3 = p2 - p3;
        re[g] = a0 + a2;
        re[g + 1] = a1;
        re[g + 2] = a0 - a2;
        re[g + 3] = a1;
        im[g] = 0.0;
        im[g + 1] = -a3;
        im[g + 2] = 0.0;
        im[g + 3] = a3;
    }
    wideStages(re, im, t.u1, t.u2);
    for (int i = 0; i < kPoints; ++i) {
        re[i] /= kPoints;
        im[i] /= kPoints;
    }
}

BatchFft::BatchFft(int size)
    : size_(size), bitReverse_(size_t(size / 2)), twiddleRe_(size_t(size / 4)), twiddleIm_(size_t(size / 4)),
      untangleRe_(size_t(size / 2 + 1)), untangleIm_(size_t(size / 2 + 1)) {
    const int half = size / 2;
    int bits = 0;
    while ((1 << bits) < half) ++bits;
    for (int m = 0; m < half; ++m) bitReverse_[size_t(m)] = bitReversed(m, bits);
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

void BatchFft::magnitudes(const float* x, std::ptrdiff_t hop, int frames, const float* window, float* re, float* im,
                          float* mag) const {
    // Row by row of the transform's input, so that each row of sixteen lanes
    // is written once.
    for (int m = 0; m < size_ / 2; ++m) {
        float* r = re + size_t(bitReverse_[size_t(m)]) * kLanes;
        float* i = im + size_t(bitReverse_[size_t(m)]) * kLanes;
        const float w0 = window[2 * m], w1 = window[2 * m + 1];
        for (int l = 0; l < frames; ++l) {
            r[l] = x[l * hop + 2 * m] * w0;
            i[l] = x[l * hop + 2 * m + 1] * w1;
        }
        for (int l = frames; l < kLanes; ++l) r[l] = i[l] = 0.0f;
    }
    transform(size_ / 2, re, im, twiddleRe_.data(), twiddleIm_.data(), untangleRe_.data(), untangleIm_.data(), mag);
}

}  // namespace notavox
