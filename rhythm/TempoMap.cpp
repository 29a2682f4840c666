#include "rhythm/TempoMap.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <utility>

namespace notavox {
namespace {

constexpr uint32_t kDefaultTempo = 500000;
constexpr uint32_t kLargestTempo = 0xFFFFFF;  // three bytes in the file

}  // namespace

TempoMap::TempoMap(int ticksPerQuarter) : ticksPerQuarter_(ticksPerQuarter) {
    segments_.push_back({0, kDefaultTempo, 0});
}

TempoMap::TempoMap(int ticksPerQuarter, const std::vector<int64_t>& ticks, const std::vector<int64_t>& micros,
                   bool limited)
    : ticksPerQuarter_(ticksPerQuarter) {
    const double fastest = limited ? double(kFastestQuarterMicros) : 1.0;
    const double slowest = limited ? double(kSlowestQuarterMicros) : double(kLargestTempo);
    int64_t reached = 0;  // the time the file reaches at the current anchor
    for (size_t i = 0; i + 1 < ticks.size(); ++i) {
        const int64_t dk = ticks[i + 1] - ticks[i];
        if (dk <= 0) continue;
        // The tempo that brings the file from where it is to the next anchor.
        const double wanted = double(micros[i + 1] - reached) * ticksPerQuarter_ / double(dk);
        const uint32_t tempo = uint32_t(std::clamp<double>(std::nearbyint(wanted), fastest, slowest));
        const int64_t startTick = ticks[i];
        if (segments_.empty() || segments_.back().microsPerQuarter != tempo)
            segments_.push_back({startTick, tempo, reached});
        // Exact in integers: dk * tempo / ticksPerQuarter microseconds.
        reached += int64_t(std::llround(double(dk) * tempo / ticksPerQuarter_));
    }
    if (segments_.empty()) segments_.push_back({0, kDefaultTempo, 0});
    // Times of the segment starts as a player computes them.
    for (size_t i = 1; i < segments_.size(); ++i) {
        const TempoSegment& p = segments_[i - 1];
        segments_[i].micros =
            p.micros + int64_t(std::llround(double(segments_[i].tick - p.tick) * p.microsPerQuarter / ticksPerQuarter_));
    }
}

double TempoMap::secondsAt(double tick) const {
    auto it = std::upper_bound(segments_.begin(), segments_.end(), tick,
                               [](double t, const TempoSegment& s) { return t < double(s.tick); });
    const TempoSegment& s = it == segments_.begin() ? segments_.front() : *(it - 1);
    return (double(s.micros) + (tick - double(s.tick)) * s.microsPerQuarter / ticksPerQuarter_) * 1e-6;
}

double TempoMap::tickAt(double seconds) const {
    const double us = seconds * 1e6;
    auto it = std::upper_bound(segments_.begin(), segments_.end(), us,
                               [](double u, const TempoSegment& s) { return u < double(s.micros); });
    const TempoSegment& s = it == segments_.begin() ? segments_.front() : *(it - 1);
    return double(s.tick) + (us - double(s.micros)) * ticksPerQuarter_ / s.microsPerQuarter;
}

BeatGrid BuildBeatGrid(const std::vector<double>& beats, const Metre& metre, int ticksPerQuarter) {
    BeatGrid g{TempoMap(ticksPerQuarter)};
    g.ticksPerBeat = metre.compound ? ticksPerQuarter * 3 / 2 : ticksPerQuarter;
    g.ticksPerBar = g.ticksPerBeat * std::max(1, metre.beatsPerBar);
    if (beats.size() < 2) return g;
    const int64_t B = g.ticksPerBeat;
    const double first = std::max(0.0, beats.front());
    const double period = beats[1] - beats[0];
    // The lead-in: the time before the first beat at the first beat's tempo,
    // in whole sixteenths. The bars are counted back from the first downbeat;
    // what is left before the first whole bar is the upbeat.
    const int64_t sixteenth = std::max(1, ticksPerQuarter / 4);
    const int64_t lead = std::llround(first / period * double(B) / double(sixteenth)) * sixteenth;
    const int64_t bar = g.ticksPerBar;
    g.firstBeatTick = lead;
    g.upbeatTicks = (lead + int64_t(std::max(0, metre.firstDownbeat)) * B) % bar;

    std::vector<int64_t> ticks{0}, micros{0};
    // Whole beats before the first one, kept where both tick and time are positive.
    std::vector<std::pair<int64_t, int64_t>> before;
    for (int64_t j = 1;; ++j) {
        const int64_t k = lead - j * B;
        const double t = first - double(j) * period;
        if (k <= 0 || t <= 0) break;
        before.push_back({k, std::llround(t * 1e6)});
    }
    for (auto it = before.rbegin(); it != before.rend(); ++it) {
        ticks.push_back(it->first);
        micros.push_back(it->second);
    }
    for (size_t i = 0; i < beats.size(); ++i) {
        const int64_t k = lead + int64_t(i) * B;
        const int64_t u = std::llround(beats[i] * 1e6);
        if (k == 0 && u == 0) continue;
        if (k <= ticks.back() || u <= micros.back()) continue;
        ticks.push_back(k);
        micros.push_back(u);
    }
    g.map = TempoMap(ticksPerQuarter, ticks, micros, true);
    g.anchorTicks = std::move(ticks);
    g.anchorMicros = std::move(micros);
    return g;
}

TempoMap RefineForTimes(const BeatGrid& grid, const std::vector<double>& times, double tolerance) {
    const int tpq = grid.map.ticksPerQuarter();
    std::map<int64_t, int64_t> anchors;  // tick -> micros
    for (size_t i = 0; i < grid.anchorTicks.size(); ++i) anchors[grid.anchorTicks[i]] = grid.anchorMicros[i];
    std::vector<double> sorted;
    for (double t : times)
        if (t > 0) sorted.push_back(t);
    if (sorted.empty()) return grid.map;
    std::sort(sorted.begin(), sorted.end());
    // The last segment runs on past the last anchor: one more anchor beyond
    // every time keeps its tempo when anchors are added before it.
    const int64_t beyond = std::llround(grid.map.tickAt(sorted.back())) + 2 * tpq;
    if (beyond > anchors.rbegin()->first)
        anchors[beyond] = std::llround(grid.map.secondsAt(double(beyond)) * 1e6);
    TempoMap map = grid.map;
    // New anchors change the tempo around them, so a few passes check again.
    for (int pass = 0; pass < 4; ++pass) {
        bool added = false;
        for (double t : sorted) {
            const int64_t k = std::llround(map.tickAt(t));
            if (std::fabs(map.secondsAt(double(k)) - t) <= tolerance) continue;
            const int64_t u = std::llround(t * 1e6);
            // The nearest free tick that keeps ticks and times in the same order.
            for (int64_t c : {k, k + 1, k - 1}) {
                if (c <= 0 || anchors.count(c)) continue;
                auto next = anchors.upper_bound(c);
                if (next == anchors.begin() || next == anchors.end()) continue;
                auto prev = std::prev(next);
                // Only where the tempos on both sides stay within the limits.
                const auto inRange = [tpq](int64_t k0, int64_t u0, int64_t k1, int64_t u1) {
                    const double q = double(u1 - u0) * tpq / double(k1 - k0);
                    return q >= kFastestQuarterMicros && q <= kSlowestQuarterMicros;
                };
                if (prev->second < u && u < next->second && inRange(prev->first, prev->second, c, u) &&
                    inRange(c, u, next->first, next->second)) {
                    anchors[c] = u;
                    added = true;
                    break;
                }
            }
        }
        if (!added) break;
        std::vector<int64_t> ticks, micros;
        for (const auto& [k, u] : anchors) {
            ticks.push_back(k);
            micros.push_back(u);
        }
        map = TempoMap(tpq, ticks, micros, true);
    }
    return map;
}

}  // namespace notavox
