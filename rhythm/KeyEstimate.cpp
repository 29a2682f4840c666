#include "rhythm/KeyEstimate.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace notavox {
namespace {

constexpr std::array<double, 12> kMajor = {0.748, 0.060, 0.488, 0.082, 0.670, 0.460, 0.096, 0.715, 0.104, 0.366, 0.057, 0.400};
constexpr std::array<double, 12> kMinor = {0.712, 0.084, 0.474, 0.618, 0.049, 0.460, 0.105, 0.747, 0.404, 0.067, 0.133, 0.330};
constexpr double kLongestWeight = 4.0;
constexpr double kBassTonic = 0.5;     // weight of the tonic's share of the bass notes
constexpr double kBassProfile = 0.4;   // weight of the bass notes' correlation with the key's profile
constexpr double kLeadingTone = 0.15;  // weight of the raised seventh against the natural one (minor)
constexpr double kThird = 0.4;         // weight of the key's own third against the other one
constexpr double kBassChord = 0.05;    // notes starting this close together sound as one chord

// The pitch classes of the bass: the lowest note of each chord (notes starting
// together), weighted by its duration (at most 4 s).
std::array<double, 12> BassHistogram(const std::vector<TranscribedNote>& notes) {
    std::array<double, 12> h{};
    std::vector<const TranscribedNote*> sorted;
    for (const auto& n : notes) sorted.push_back(&n);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const TranscribedNote* a, const TranscribedNote* b) { return a->onset < b->onset; });
    for (size_t i = 0; i < sorted.size();) {
        size_t j = i;
        const TranscribedNote* lowest = sorted[i];
        for (; j < sorted.size() && sorted[j]->onset - sorted[i]->onset <= kBassChord; ++j)
            if (sorted[j]->pitch < lowest->pitch) lowest = sorted[j];
        h[size_t(((lowest->pitch % 12) + 12) % 12)] += std::clamp(lowest->offset - lowest->onset, 0.0, kLongestWeight);
        i = j;
    }
    return h;
}

double Correlation(const std::array<double, 12>& histogram, const std::array<double, 12>& profile, int tonic) {
    double mh = 0, mp = 0;
    for (int i = 0; i < 12; ++i) {
        mh += histogram[size_t(i)];
        mp += profile[size_t(i)];
    }
    mh /= 12;
    mp /= 12;
    double sxy = 0, sxx = 0, syy = 0;
    for (int i = 0; i < 12; ++i) {
        const double x = histogram[size_t((i + tonic) % 12)] - mh;
        const double y = profile[size_t(i)] - mp;
        sxy += x * y;
        sxx += x * x;
        syy += y * y;
    }
    return sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0.0;
}

}  // namespace

int KeyEstimate::sharps() const {
    // Sharps of the major key on each tonic; a minor key shares them with the
    // major key a minor third above.
    constexpr int kMajorSharps[12] = {0, -5, 2, -3, 4, -1, 6, 1, -4, 3, -2, 5};
    return kMajorSharps[(tonic + (minor ? 3 : 0)) % 12];
}

std::string KeyEstimate::name() const {
    // Spelled by the key signature: sharps give Fis, Cis, Gis, Dis; flats Des, Es, As, B.
    static const char* const kSharpNames[12] = {"C", "Cis", "D", "Dis", "E", "F", "Fis", "G", "Gis", "A", "Ais", "H"};
    static const char* const kFlatNames[12] = {"C", "Des", "D", "Es", "E", "F", "Ges", "G", "As", "A", "B", "H"};
    std::string n = sharps() < 0 ? kFlatNames[tonic % 12] : kSharpNames[tonic % 12];
    if (minor) {
        n[0] = char(n[0] - 'A' + 'a');
        return n + "-Moll";
    }
    return n + "-Dur";
}

KeyEstimate EstimateKey(const std::vector<TranscribedNote>& notes) {
    KeyEstimate k;
    std::array<double, 12> histogram{};
    for (const auto& note : notes) {
        const double d = std::clamp(note.offset - note.onset, 0.0, kLongestWeight);
        histogram[size_t(((note.pitch % 12) + 12) % 12)] += d;
    }
    const bool any = std::any_of(histogram.begin(), histogram.end(), [](double v) { return v > 0; });
    if (!any) return KeyEstimate{};
    const std::array<double, 12> bass = BassHistogram(notes);
    double bassSum = 0;
    for (double b : bass) bassSum += b;
    // The profile's correlation, and besides how often the tonic is the bass
    // and, for a minor key, how much its leading tone is raised.
    double scores[24];
    double correlations[24];
    for (int tonic = 0; tonic < 12; ++tonic) {
        for (int mode = 0; mode < 2; ++mode) {
            const double r = Correlation(histogram, mode ? kMinor : kMajor, tonic);
            double score = r;
            if (bassSum > 0) {
                score += kBassTonic * bass[size_t(tonic)] / bassSum;
                score += kBassProfile * Correlation(bass, mode ? kMinor : kMajor, tonic);
            }
            // The major or minor third above the tonic: the mode's own should sound more.
            const double major = histogram[size_t((tonic + 4) % 12)];
            const double minor = histogram[size_t((tonic + 3) % 12)];
            if (major + minor > 0) score += kThird * ((mode ? minor : major) / (major + minor) - 0.5);
            if (mode) {
                const double raised = histogram[size_t((tonic + 11) % 12)];
                const double natural = histogram[size_t((tonic + 10) % 12)];
                if (raised + natural > 0) score += kLeadingTone * (raised / (raised + natural) - 0.5);
            }
            correlations[tonic * 2 + mode] = r;
            scores[tonic * 2 + mode] = score;
        }
    }
    int best = 0, second = -1;
    for (int i = 1; i < 24; ++i)
        if (scores[i] > scores[best]) best = i;
    for (int i = 0; i < 24; ++i)
        if (i != best && (second < 0 || scores[i] > scores[second])) second = i;
    k.tonic = best / 2;
    k.minor = best % 2 == 1;
    k.confidence = correlations[best];
    k.margin = scores[best] - scores[second];
    return k;
}

}  // namespace notavox
