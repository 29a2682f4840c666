// Rounding of the program: to the nearest integer, halves to the even
// neighbour (the rounding of the toolkit's numeric controls and of playback).
#pragma once

#include <cmath>
#include <cstdint>

namespace notavox {

inline int64_t roundHalfEven(double x) {
    const double low = std::floor(x);
    const double diff = x - low;
    const auto n = static_cast<int64_t>(low);
    if (diff > 0.5) return n + 1;
    if (diff < 0.5) return n;
    return (n % 2 == 0) ? n : n + 1;
}

}  // namespace notavox
