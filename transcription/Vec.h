// Sixteen floats as one value, for the loops that run across sixteen frames
// at once. Each lane is computed with the same operations in the same order
// as a scalar loop would, so a result does not depend on the vector width the
// compiler picks (GCC vector extensions; contraction is off for the build).
#pragma once

#include <cstdint>
#include <cstring>

#include "transcription/Fft.h"

// The heavy loops are compiled for AVX-512, AVX2 and plain x86-64; the
// program picks the version the processor runs. The results are the same.
// Built with clang (the fuzzers), the loops are plain x86-64 only: clang
// checks the calling convention of every call before inlining, and the
// helpers below, built for the plain target, take and return 64-byte vectors,
// which an AVX version of a loop passes differently.
#if defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__) && !defined(__clang__)
// Not under the thread checker: the clone resolver runs before it is set up.
#if defined(__SANITIZE_THREAD__)
#define NOTAVOX_VECTOR_CLONES
#else
#define NOTAVOX_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#endif
#else
#define NOTAVOX_VECTOR_CLONES
#endif

namespace notavox {

// One lane for each frame of a BatchFft (kLanes, transcription/Fft.h).
typedef float Vf __attribute__((vector_size(kLanes * sizeof(float))));
typedef int32_t Vi __attribute__((vector_size(kLanes * sizeof(int32_t))));

#define NOTAVOX_INLINE [[gnu::always_inline]] inline

NOTAVOX_INLINE Vf loadv(const float* p) {
    Vf v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
NOTAVOX_INLINE void storev(float* p, Vf v) { std::memcpy(p, &v, sizeof v); }
NOTAVOX_INLINE Vf splat(float x) { return Vf{} + x; }
NOTAVOX_INLINE Vf relu(Vf x) { return x > 0.0f ? x : 0.0f; }
// Correctly rounded square root in every lane (the loop becomes one vector
// instruction; the library is built without errno for math functions).
NOTAVOX_INLINE Vf sqrtv(Vf x) {
    float a[kLanes];
    std::memcpy(a, &x, sizeof a);
    for (int l = 0; l < kLanes; ++l) a[l] = __builtin_sqrtf(a[l]);
    std::memcpy(&x, a, sizeof a);
    return x;
}

// The polynomial with the coefficients `highest`, `lower`... (from the highest
// power down) at x, by Horner's rule: one multiply and one add a coefficient.
template <typename... Coefficients>
NOTAVOX_INLINE Vf hornerv(Vf x, float highest, Coefficients... lower) {
    Vf p = splat(highest);
    ((p = p * x + lower), ...);
    return p;
}

// e^x with a relative error of a few float ulps: 2^n * p(r), x = n ln 2 + r.
NOTAVOX_INLINE Vf expv(Vf x) {
    x = x < 88.0f ? x : 88.0f;
    x = x > -87.0f ? x : -87.0f;
    const Vf magic = splat(12582912.0f);  // 1.5 * 2^23: adding it rounds to an integer
    Vf n = x * 1.44269504088896341f + magic;
    n = n - magic;
    Vf r = x - n * 0.693145751953125f;
    r = r - n * 1.428606765330187045e-06f;
    const Vf p = hornerv(r, 1.0f / 5040.0f, 1.0f / 720.0f, 1.0f / 120.0f, 1.0f / 24.0f, 1.0f / 6.0f, 0.5f, 1.0f, 1.0f);
    const Vi bits = (__builtin_convertvector(n, Vi) + 127) << 23;
    Vf scale;
    std::memcpy(&scale, &bits, sizeof scale);
    return p * scale;
}

NOTAVOX_INLINE Vf sigmoidv(Vf x) { return 1.0f / (1.0f + expv(-x)); }

// ln(1 + y) for y >= 0: ln u of u = 1 + y from its exponent and an odd series
// in s = (m - 1)/(m + 1), corrected by y/(u - 1) for the rounding of u.
NOTAVOX_INLINE Vf log1pv(Vf y) {
    const Vf u = 1.0f + y;
    Vi bits;
    std::memcpy(&bits, &u, sizeof bits);
    // m in [sqrt(1/2), sqrt(2)): move the exponent so that m is near 1.
    const Vi shifted = bits - 0x3F3504F3;
    const Vi e = shifted >> 23;
    const Vi mbits = (shifted & 0x007FFFFF) + 0x3F3504F3;
    Vf m;
    std::memcpy(&m, &mbits, sizeof m);
    const Vf s = (m - 1.0f) / (m + 1.0f);
    const Vf s2 = s * s;
    const Vf p = hornerv(s2, 2.0f / 11.0f, 2.0f / 9.0f, 2.0f / 7.0f, 2.0f / 5.0f, 2.0f / 3.0f, 2.0f);
    const Vf lnu = __builtin_convertvector(e, Vf) * 0.693147180559945309f + p * s;
    const Vf d = u - 1.0f;
    return d == 0.0f ? y : lnu * (y / d);
}

}  // namespace notavox
