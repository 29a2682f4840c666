#include "rhythm/BeatTracker.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "rhythm/TempoEstimate.h"

namespace notavox {
namespace {

constexpr double kChangePenalty = 200.0;  // per squared log ratio of consecutive periods
constexpr double kTempoPenalty = 2.0;     // per squared log ratio to the global period
constexpr double kRange = 1.4;            // periods from P0 / kRange to P0 * kRange
// From one beat to the next the period may change by up to this share (a
// held note, a breath, a rubato), at least two frames and at most six.
constexpr double kStepShare = 0.08;
constexpr int kFewestStep = 2;
constexpr int kMostStep = 6;
constexpr int8_t kStart = 127;
// The metrical level check.
constexpr double kWeakOtherBeat = 0.35;
constexpr double kStrongHalfway = 0.60;
constexpr double kHalfwayFilled = 0.90;
constexpr double kWeakFilled = 0.60;
constexpr double kOccupied = 0.25;  // of the median beat strength: an onset is there
constexpr double kFastestBpm = 190.0;
constexpr double kSlowestBpm = 57.0;
// The metrical level from the notes.
constexpr double kSameOnset = 0.04;     // seconds: onsets this close are one
constexpr double kDenseNotes = 0.30;    // typical onset distance, of a beat
constexpr double kBassMoves = 0.30;     // bass onsets halfway, against those on the beats
constexpr double kBassWindow = 0.07;    // seconds around a point for a bass note to start on it

// Beat frames (fractional) of the best path for the global period p0 with
// periods in [p0 / range, p0 * range].
std::vector<double> BestPath(const std::vector<float>& s, double p0, double range) {
    const int64_t n = int64_t(s.size());
    const int pmin = std::max(2, int(std::floor(p0 / range)));
    const int pmax = std::max(pmin, int(std::ceil(p0 * range)));
    const int k = pmax - pmin + 1;
    const int maxStep = std::clamp(int(std::lround(kStepShare * p0)), kFewestStep, kMostStep);
    std::vector<float> prior(size_t(k), 0.0f);
    std::vector<float> change(size_t(k) * (2 * maxStep + 1), 0.0f);
    for (int i = 0; i < k; ++i) {
        const double p = pmin + i;
        const double l = std::log(p / p0);
        prior[size_t(i)] = float(kTempoPenalty * l * l);
        for (int d = -maxStep; d <= maxStep; ++d) {
            const double q = p + d;
            const double c = q >= pmin && q <= pmax ? std::log(p / q) : 0.0;
            change[size_t(i) * (2 * maxStep + 1) + size_t(d + maxStep)] = float(kChangePenalty * c * c);
        }
    }
    const int64_t ring = pmax + 1;
    std::vector<float> score(size_t(ring * k), 0.0f);
    std::vector<int8_t> back(size_t(n * k), kStart);
    float best = 0;
    int64_t bestT = -1;
    int bestK = 0;
    for (int64_t t = 0; t < n; ++t) {
        float* row = &score[size_t((t % ring) * k)];
        for (int i = 0; i < k; ++i) {
            const int p = pmin + i;
            float pred = 0;
            int8_t from = kStart;
            if (t - p >= 0) {
                const float* prev = &score[size_t(((t - p) % ring) * k)];
                const float* ch = &change[size_t(i) * (2 * maxStep + 1)];
                for (int d = -maxStep; d <= maxStep; ++d) {
                    const int j = i + d;
                    if (j < 0 || j >= k) continue;
                    const float v = prev[j] - ch[d + maxStep];
                    if (v > pred) {
                        pred = v;
                        from = int8_t(d);
                    }
                }
            }
            const float v = s[size_t(t)] - prior[size_t(i)] + pred;
            row[i] = v;
            back[size_t(t * k + i)] = from;
            if (v > best) {
                best = v;
                bestT = t;
                bestK = i;
            }
        }
    }
    std::vector<double> frames;
    for (int64_t t = bestT; t >= 0;) {
        frames.push_back(double(t));
        const int8_t from = back[size_t(t * k + bestK)];
        if (from == kStart) break;
        t -= pmin + bestK;
        bestK += from;
    }
    std::reverse(frames.begin(), frames.end());
    // Each beat moves to the strongest frame within two frames, then to the
    // vertex of the parabola through it and its neighbours.
    for (double& f : frames) {
        int64_t t = int64_t(f);
        int64_t peak = t;
        for (int64_t j = std::max<int64_t>(0, t - 2); j <= std::min(n - 1, t + 2); ++j)
            if (s[size_t(j)] > s[size_t(peak)]) peak = j;
        double frac = 0;
        if (peak > 0 && peak + 1 < n) {
            const double a = s[size_t(peak - 1)], b = s[size_t(peak)], c = s[size_t(peak + 1)];
            const double den = a - 2 * b + c;
            if (den < 0) frac = std::clamp(0.5 * (a - c) / den, -0.5, 0.5);
        }
        f = double(peak) + frac;
    }
    // The refinement may not reorder beats that were two frames apart.
    frames.erase(std::unique(frames.begin(), frames.end(), [](double a, double b) { return b - a < 1.0; }),
                 frames.end());
    return frames;
}

float PeakNear(const std::vector<float>& s, double frame, int radius) {
    const int64_t n = int64_t(s.size());
    const int64_t c = std::llround(frame);
    float m = 0;
    for (int64_t j = std::max<int64_t>(0, c - radius); j <= std::min(n - 1, c + radius); ++j)
        m = std::max(m, s[size_t(j)]);
    return m;
}

double MedianInterval(const std::vector<double>& frames) {
    if (frames.size() < 2) return 0;
    std::vector<double> d;
    for (size_t i = 1; i < frames.size(); ++i) d.push_back(frames[i] - frames[i - 1]);
    std::nth_element(d.begin(), d.begin() + std::ptrdiff_t(d.size() / 2), d.end());
    return d[d.size() / 2];
}

}  // namespace

double MedianTempo(const std::vector<double>& beats) {
    const double m = MedianInterval(beats);
    return m > 0 ? 60.0 / m : 0.0;
}

std::vector<double> SortedOnsets(const std::vector<TranscribedNote>& notes) {
    std::vector<double> onsets;
    for (const auto& n : notes) onsets.push_back(n.onset);
    std::sort(onsets.begin(), onsets.end());
    return onsets;
}

bool AnyWithin(const std::vector<double>& times, double t, double window) {
    const auto a = std::lower_bound(times.begin(), times.end(), t - window);
    return a != times.end() && *a <= t + window;
}

int BassPitchLimit(const std::vector<TranscribedNote>& notes) {
    std::vector<int> pitches;
    for (const auto& n : notes) pitches.push_back(n.pitch);
    std::nth_element(pitches.begin(), pitches.begin() + std::ptrdiff_t(pitches.size() / 5), pitches.end());
    return pitches[pitches.size() / 5];
}

double TypicalOnsetGap(const std::vector<TranscribedNote>& notes) {
    const std::vector<double> onsets = SortedOnsets(notes);
    std::vector<double> gaps;
    double last = 0;
    for (size_t i = 0; i < onsets.size(); ++i) {
        if (i > 0 && onsets[i] - last <= kSameOnset) continue;
        if (i > 0) gaps.push_back(onsets[i] - last);
        last = onsets[i];
    }
    if (gaps.size() < 16) return 0;
    std::nth_element(gaps.begin(), gaps.begin() + std::ptrdiff_t(gaps.size() / 2), gaps.end());
    return gaps[gaps.size() / 2];
}

BeatTrack CheckLevelWithNotes(const BeatTrack& track, const std::vector<float>& novelty, double frameRate,
                              const std::vector<TranscribedNote>& notes) {
    if (track.beats.size() < 8 || track.tempoBpm <= 0 || 2 * track.tempoBpm > kFastestBpm) return track;
    const double typical = TypicalOnsetGap(notes);
    if (typical <= 0) return track;
    const double beat = 60.0 / track.tempoBpm;
    if (typical > kDenseNotes * beat) return track;
    // Fast notes over a bass that moves only on the beats keep the beats: the
    // bass (the lowest fifth of the pitches) must start halfway between them
    // too, now and then.
    const int lowPitch = BassPitchLimit(notes);
    std::vector<double> bass;
    for (const auto& n : notes)
        if (n.pitch <= lowPitch) bass.push_back(n.onset);
    std::sort(bass.begin(), bass.end());
    const double window = std::min(kBassWindow, beat / 6);
    const auto bassAt = [&](double t) { return AnyWithin(bass, t, window); };
    const std::vector<double>& beats = track.beats;
    size_t onBeats = 0, halfway = 0;
    for (size_t i = 0; i < beats.size(); ++i) {
        if (bassAt(beats[i])) ++onBeats;
        if (i + 1 < beats.size() && bassAt(0.5 * (beats[i] + beats[i + 1]))) ++halfway;
    }
    if (onBeats == 0 || double(halfway) < kBassMoves * double(onBeats)) return track;
    // A beat whose notes start on its thirds more often than on its half is
    // divided in three (triplets, compound metre): half of it would fall
    // between two notes.
    const std::vector<double> onsets = SortedOnsets(notes);
    const auto noteAt = [&](double t) { return AnyWithin(onsets, t, window); };
    size_t thirds = 0, halves = 0;
    for (size_t i = 0; i + 1 < beats.size(); ++i) {
        const double a = beats[i], d = beats[i + 1] - beats[i];
        if (noteAt(a + d / 3)) ++thirds;
        if (noteAt(a + 2 * d / 3)) ++thirds;
        if (noteAt(a + d / 2)) halves += 2;
    }
    if (thirds > halves) return track;
    BeatTrack out;
    for (double f : BestPath(novelty, 0.5 * beat * frameRate, kRange)) out.beats.push_back(f / frameRate);
    out.tempoBpm = MedianTempo(out.beats);
    return out;
}

BeatTrack TrackBeats(const std::vector<float>& novelty, double frameRate, const BeatTrackingOptions& options) {
    BeatTrack out;
    if (novelty.empty() || frameRate <= 0) return out;
    std::vector<double> frames;
    if (options.tempoBpm > 0) {
        frames = BestPath(novelty, 60.0 * frameRate / options.tempoBpm, 1.04);
    } else {
        const TempoCandidates tc = EstimateBeatPeriod(novelty, frameRate, options.priorBpm);
        if (tc.period <= 0) return out;
        frames = BestPath(novelty, tc.period, kRange);
        if (frames.size() >= 8) {
            const double period = MedianInterval(frames);
            // Strength of the beats of each parity and of the points halfway.
            std::vector<double> beat(frames.size()), half(frames.size() - 1);
            double sum[2] = {0, 0};
            int count[2] = {0, 0};
            for (size_t i = 0; i < frames.size(); ++i) {
                beat[i] = PeakNear(novelty, frames[i], 2);
                sum[i % 2] += beat[i];
                ++count[i % 2];
                if (i + 1 < frames.size()) half[i] = PeakNear(novelty, 0.5 * (frames[i] + frames[i + 1]), 2);
            }
            std::vector<double> sorted = beat;
            std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2), sorted.end());
            const double floor = kOccupied * sorted[sorted.size() / 2];
            const int weak = sum[0] / count[0] < sum[1] / count[1] ? 0 : 1;
            double weakOccupied = 0, halfOccupied = 0, halfSum = 0;
            for (size_t i = 0; i < frames.size(); ++i)
                if (int(i % 2) == weak && beat[i] > floor) weakOccupied += 1;
            for (double h : half) {
                halfSum += h;
                if (h > floor) halfOccupied += 1;
            }
            weakOccupied /= count[weak];
            halfOccupied /= double(half.size());
            const double strong = sum[1 - weak] / count[1 - weak];
            const double weakRatio = strong > 0 ? sum[weak] / count[weak] / strong : 1.0;
            const double beatMean = (sum[0] + sum[1]) / double(frames.size());
            const double halfRatio = beatMean > 0 ? halfSum / double(half.size()) / beatMean : 0.0;
            const double bpm = 60.0 * frameRate / period;
            double level = 1;
            if (halfRatio >= kStrongHalfway && halfOccupied >= kHalfwayFilled && 2 * bpm <= kFastestBpm)
                level = 0.5;
            else if (weakRatio <= kWeakOtherBeat && weakOccupied < kWeakFilled && bpm / 2 >= kSlowestBpm)
                level = 2;
            // Tracked again around the tempo found (the global estimate may lie
            // off it when the tempo changes), at the level chosen.
            if (level != 1 || std::fabs(period / tc.period - 1) > 0.05) frames = BestPath(novelty, period * level, kRange);
        }
    }
    for (double f : frames) out.beats.push_back(f / frameRate);
    out.tempoBpm = MedianTempo(out.beats);
    return out;
}

}  // namespace notavox
