// The global tempo of a piece from its beat novelty: the autocorrelation of
// the novelty, read through a comb of four multiples of each candidate beat
// period, weighted with a log-Gaussian tempo prior (one octave wide, centred
// at 120 beats a minute). Candidates run from 40 to 240 beats a minute.
#pragma once

#include <vector>

namespace notavox {

struct TempoCandidates {
    double period = 0;  // the best beat period in frames, 0 when there is no pulse
    // The comb score with the prior for each candidate in `periods`.
    std::vector<double> periods;
    std::vector<double> scores;
};

inline constexpr double kMinBpm = 40.0;
inline constexpr double kMaxBpm = 240.0;

TempoCandidates EstimateBeatPeriod(const std::vector<float>& novelty, double frameRate, double priorBpm = 120.0);

}  // namespace notavox
