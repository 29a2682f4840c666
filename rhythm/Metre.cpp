#include "rhythm/Metre.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace notavox {
namespace {

constexpr double kNoteWindow = 0.07;  // seconds around a beat for a note to start on it
constexpr double kTwoOverFour = 1.35;
constexpr double kCompound = 1.5;

float PeakNear(const std::vector<float>& s, double frame, int radius) {
    const long n = long(s.size());
    const long c = std::lround(frame);
    float m = 0;
    for (long j = std::max(0L, c - radius); j <= std::min(n - 1, c + radius); ++j) m = std::max(m, s[size_t(j)]);
    return m;
}

// Scales a feature to zero mean and unit deviation over the beats (left at 0
// when it does not vary).
void Standardise(std::vector<double>& v) {
    if (v.empty()) return;
    double mean = 0;
    for (double x : v) mean += x;
    mean /= double(v.size());
    double var = 0;
    for (double x : v) var += (x - mean) * (x - mean);
    var /= double(v.size());
    const double sd = std::sqrt(var);
    for (double& x : v) x = sd > 1e-9 ? (x - mean) / sd : 0.0;
}

// How much the pitch classes sounding from each beat to the next (weighted
// by their overlap with that span) differ from those of the previous span:
// 1 - cosine similarity; 1 for the first beat.
std::vector<double> HarmonyChange(const std::vector<double>& beats, const std::vector<TranscribedNote>& notes) {
    const size_t n = beats.size();
    std::vector<double> change(n, 0.0);
    if (n < 2) return change;
    std::vector<std::array<double, 12>> chroma(n, std::array<double, 12>{});
    for (const auto& note : notes) {
        auto b = std::upper_bound(beats.begin(), beats.end(), note.onset);
        size_t i = b == beats.begin() ? 0 : size_t(b - beats.begin()) - 1;
        for (; i < n && beats[i] < note.offset; ++i) {
            const double end = i + 1 < n ? beats[i + 1] : beats[i] + (beats[i] - beats[i - 1]);
            const double overlap = std::min(end, note.offset) - std::max(beats[i], note.onset);
            if (overlap > 0) chroma[i][size_t(((note.pitch % 12) + 12) % 12)] += overlap;
        }
    }
    for (size_t i = 1; i < n; ++i) {
        double dot = 0, a = 0, b = 0;
        for (size_t c = 0; c < 12; ++c) {
            dot += chroma[i][c] * chroma[i - 1][c];
            a += chroma[i][c] * chroma[i][c];
            b += chroma[i - 1][c] * chroma[i - 1][c];
        }
        change[i] = a > 0 && b > 0 ? 1.0 - dot / std::sqrt(a * b) : (a > 0 ? 1.0 : 0.0);
    }
    change[0] = 1.0;
    return change;
}

}  // namespace

Metre EstimateMetre(const OnsetEnvelope& envelope, const std::vector<double>& beats,
                    const std::vector<TranscribedNote>& notes, int beatsPerBar, bool compoundBeats) {
    Metre m;
    m.compound = compoundBeats;
    const bool given = beatsPerBar >= 2 && beatsPerBar <= 4;
    if (given) m.beatsPerBar = beatsPerBar;
    const size_t n = beats.size();
    if (n < 6) return m;
    const double fps = envelope.frameRate;
    const std::vector<float> onset = BeatNovelty(envelope.flux, fps);
    const std::vector<float> bass = BeatNovelty(envelope.lowFlux, fps);

    std::vector<double> fOnset(n), fBass(n), fCount(n, 0), fLow(n, 0), fChange(n, 0);
    for (size_t i = 0; i < n; ++i) {
        fOnset[i] = PeakNear(onset, beats[i] * fps, 2);
        fBass[i] = PeakNear(bass, beats[i] * fps, 2);
    }
    if (!notes.empty()) {
        std::vector<int> pitches;
        for (const auto& note : notes) pitches.push_back(note.pitch);
        std::nth_element(pitches.begin(), pitches.begin() + ptrdiff_t(pitches.size() / 5), pitches.end());
        const int lowPitch = pitches[pitches.size() / 5];
        for (const auto& note : notes) {
            // The beats whose window holds the onset, found by bisection.
            auto it = std::lower_bound(beats.begin(), beats.end(), note.onset - kNoteWindow);
            for (; it != beats.end() && *it <= note.onset + kNoteWindow; ++it) {
                const size_t i = size_t(it - beats.begin());
                fCount[i] += 1;
                if (note.pitch <= lowPitch) fLow[i] = 1;
            }
        }
        fChange = HarmonyChange(beats, notes);
    }
    Standardise(fOnset);
    Standardise(fBass);
    Standardise(fCount);
    Standardise(fLow);
    Standardise(fChange);
    std::vector<double> accent(n);
    for (size_t i = 0; i < n; ++i)
        accent[i] = fOnset[i] + fBass[i] + 0.5 * fCount[i] + fLow[i] + 1.5 * fChange[i];

    double contrast[5] = {0, 0, 0, 0, 0};
    int phase[5] = {0, 0, 0, 0, 0};
    for (int bar = 2; bar <= 4; ++bar) {
        contrast[bar] = -1e30;
        for (int p = 0; p < bar; ++p) {
            double on = 0, off = 0;
            int nOn = 0, nOff = 0;
            for (size_t i = 0; i < n; ++i) {
                if (int(i % size_t(bar)) == p) {
                    on += accent[i];
                    ++nOn;
                } else {
                    off += accent[i];
                    ++nOff;
                }
            }
            const double c = on / nOn - off / nOff;
            if (c > contrast[bar]) {
                contrast[bar] = c;
                phase[bar] = p;
            }
        }
    }
    int bar = contrast[3] > contrast[4] ? 3 : 4;
    if (contrast[2] > kTwoOverFour * contrast[4] && contrast[2] > contrast[3]) bar = 2;
    if (given) bar = beatsPerBar;

    // Subdivision: onsets at the thirds against the halves of the beats.
    if (!compoundBeats) {
        double thirds = 0, halves = 0;
        for (size_t i = 0; i + 1 < n; ++i) {
            const double a = beats[i] * fps, d = (beats[i + 1] - beats[i]) * fps;
            thirds += 0.5 * (PeakNear(onset, a + d / 3, 1) + PeakNear(onset, a + 2 * d / 3, 1));
            halves += PeakNear(onset, a + d / 2, 1);
        }
        m.compound = bar != 3 && thirds > kCompound * halves && thirds > 0;
    }
    // Four dotted quarters make two bars of 6/8.
    if (m.compound && bar == 4 && !given) bar = 2;
    m.beatsPerBar = bar;
    m.firstDownbeat = phase[bar];
    return m;
}

}  // namespace notavox
