#include "rhythm/TempoEstimate.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace notavox {

TempoCandidates EstimateBeatPeriod(const std::vector<float>& novelty, double frameRate, double priorBpm) {
    TempoCandidates out;
    const size_t n = novelty.size();
    const double minPeriod = 60.0 / kMaxBpm * frameRate;
    const double maxPeriod = 60.0 / kMinBpm * frameRate;
    const size_t maxLag = size_t(std::ceil(4 * maxPeriod)) + 2;
    if (n < size_t(2 * maxPeriod)) return out;
    // Autocorrelation, each lag divided by its number of terms. A long piece
    // is sampled: at most kSegments stretches of kSegmentFrames spread evenly
    // over it, which keeps the cost bounded for an hour of music.
    constexpr size_t kSegmentFrames = 6000;
    constexpr size_t kSegments = 10;
    std::vector<std::pair<size_t, size_t>> ranges;
    if (n <= kSegmentFrames * kSegments) {
        ranges.push_back({0, n});
    } else {
        for (size_t s = 0; s < kSegments; ++s) {
            const size_t a = (n - kSegmentFrames) * s / (kSegments - 1);
            ranges.push_back({a, a + kSegmentFrames});
        }
    }
    std::vector<double> acf(maxLag + 1, 0.0);
    for (size_t lag = 0; lag <= maxLag && lag < n; ++lag) {
        double s = 0;
        size_t terms = 0;
        for (const auto& [a, b] : ranges) {
            const size_t end = std::min(b, n - lag);
            for (size_t i = a; i < end; ++i) s += double(novelty[i]) * novelty[i + lag];
            if (end > a) terms += end - a;
        }
        acf[lag] = terms ? s / double(terms) : 0.0;
    }
    auto at = [&](double lag) {
        const size_t i = size_t(lag);
        if (i + 1 > maxLag) return 0.0;
        const double f = lag - double(i);
        return acf[i] * (1 - f) + acf[i + 1] * f;
    };
    // Candidates spaced by 0.5 % in tempo.
    double best = -1;
    for (double p = minPeriod; p <= maxPeriod; p *= 1.005) {
        double comb = 0;
        for (int k = 1; k <= 4; ++k) {
            // The peak of the autocorrelation near k * p (+-1 frame).
            double peak = 0;
            for (int d = -2; d <= 2; ++d) peak = std::max(peak, at(k * p + 0.5 * d));
            comb += peak;
        }
        const double bpm = 60.0 * frameRate / p;
        const double octaves = std::log2(bpm / priorBpm);
        const double score = comb * std::exp(-0.5 * octaves * octaves);
        out.periods.push_back(p);
        out.scores.push_back(score);
        if (score > best) {
            best = score;
            out.period = p;
        }
    }
    if (best <= 0) out.period = 0;
    return out;
}

}  // namespace notavox
