#include "transcription/Spectrum.h"

#include <cmath>

namespace notavox {

const std::array<double, 12> baseFrequency = {32.70625, 34.65,  36.7125, 38.8875, 41.2,    43.65,
                                              46.25,    49.0,   51.9125, 55.0,    58.275,  61.7375};

namespace {

constexpr int kPoints = 1024;
constexpr int kStages = 10;

struct Forward1024Tables {
    // Twiddle factors of stage s at offset (1 << s) - 1: the values u1, u2
    // that the recurrence produces for j = 0 .. 2^s - 1.
    alignas(64) double u1[kPoints];
    alignas(64) double u2[kPoints];
    uint16_t swapA[kPoints / 2];
    uint16_t swapB[kPoints / 2];
    int swapCount = 0;
    uint16_t reversed[kPoints];  // the input index that lands on each position

    Forward1024Tables() {
        int32_t j = 0;
        for (int32_t i = 0; i < kPoints - 1; ++i) {
            if (i < j) {
                swapA[swapCount] = static_cast<uint16_t>(i);
                swapB[swapCount] = static_cast<uint16_t>(j);
                ++swapCount;
            }
            int32_t k = kPoints / 2;
            while (k <= j) {
                j -= k;
                k /= 2;
            }
            j += k;
        }
        for (int i = 0; i < kPoints; ++i) {
            int r = 0;
            for (int b = 0; b < kStages; ++b) r |= ((i >> b) & 1) << (kStages - 1 - b);
            reversed[i] = static_cast<uint16_t>(r);
        }
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

}  // namespace

namespace {

// Four doubles; each operation is the plain IEEE operation on every lane, so
// a lane computes exactly what the scalar code computes.
typedef double Lanes __attribute__((vector_size(32), aligned(8)));

#define NOTAVOX_LOAD(v, p) __builtin_memcpy(&(v), (p), sizeof(Lanes))
#define NOTAVOX_STORE(p, v) __builtin_memcpy((p), &(v), sizeof(Lanes))

// One stage of butterflies for l1 >= 4: the groups of l2 points, and inside a
// group the offsets jj in steps of four.
__attribute__((target_clones("avx", "default"))) void wideStages(double* __restrict re, double* __restrict im,
                                                                 const double* __restrict u1,
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
                Lanes a, b, xr, xi, yr, yi;
                NOTAVOX_LOAD(a, w1 + jj);
                NOTAVOX_LOAD(b, w2 + jj);
                NOTAVOX_LOAD(xr, r1 + jj);
                NOTAVOX_LOAD(xi, i1 + jj);
                NOTAVOX_LOAD(yr, r0 + jj);
                NOTAVOX_LOAD(yi, i0 + jj);
                const Lanes t1 = a * xr - b * xi;
                const Lanes t2 = a * xi + b * xr;
                const Lanes o1 = yr - t1, o2 = yi - t2, o3 = yr + t1, o4 = yi + t2;
                NOTAVOX_STORE(r1 + jj, o1);
                NOTAVOX_STORE(i1 + jj, o2);
                NOTAVOX_STORE(r0 + jj, o3);
                NOTAVOX_STORE(i0 + jj, o4);
            }
        }
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

NoteFrequencyTable BuildNoteFrequency() {
    NoteFrequencyTable f{};
    for (int n = 0; n < 128; ++n) f[n] = std::ldexp(baseFrequency[n % 12], n / 12 - 2);
    return f;
}

BinToNoteTable BuildBinToNote(int32_t sampleRate, const NoteFrequencyTable& noteFrequency) {
    BinToNoteTable map{};
    for (int j = 0; j < 512; ++j) {
        const double f = static_cast<double>((static_cast<long double>(j) / 1024.0L) * sampleRate);
        if (f < 31.5 || f >= 50176.0) {
            map[j] = -1;
            continue;
        }
        double best = 1000000.0;
        int32_t note = -1;
        for (int k = 0; k < 128; ++k) {
            const double d = std::fabs(noteFrequency[k] - f);
            if (d < best) {
                best = d;
                note = k;
            }
        }
        map[j] = note;
    }
    return map;
}

}  // namespace notavox
