// The plain radix-2 FFT, kept as the oracle of the program's fast transform.
#pragma once

#include <cstdint>

namespace notavox::testing {

// In-place complex FFT of N = 2^m points on separate real and imaginary
// arrays, whose twiddle factors come from a half-angle recurrence (no
// trigonometric call). direction 1 is the forward transform scaled by 1/N;
// any other value the unscaled inverse. Always returns 1.
int32_t FFT(int32_t direction, int32_t m, double* re, double* im);

}  // namespace notavox::testing
