#include "rhythm/RhythmAnalysis.h"

#include <algorithm>
#include <cmath>

namespace notavox {
namespace {

// Fast beats with hardly ever a note between two of them are the eighths of
// a slower beat: three of them (in bars of three) a dotted quarter, else two
// of them a quarter. The bars are counted again on the slower beats.
constexpr double kFastestSubdivided = 140.0;  // beats a minute from which beats may be eighths
constexpr double kBetween = 0.15;             // of a beat: an onset this far from both beats lies between
constexpr double kHardlyEver = 0.05;          // of the gaps between beats with an onset in them

void GroupFastBeats(RhythmAnalysis& r, const OnsetEnvelope& envelope, const std::vector<TranscribedNote>& notes) {
    const std::vector<double>& beats = r.beats.beats;
    if (beats.size() < 12 || r.beats.tempoBpm < kFastestSubdivided || notes.empty()) return;
    const std::vector<double> onsets = SortedOnsets(notes);
    size_t filled = 0;
    for (size_t i = 0; i + 1 < beats.size(); ++i) {
        const double margin = kBetween * (beats[i + 1] - beats[i]);
        const auto a = std::upper_bound(onsets.begin(), onsets.end(), beats[i] + margin);
        if (a != onsets.end() && *a < beats[i + 1] - margin) ++filled;
    }
    if (double(filled) > kHardlyEver * double(beats.size() - 1)) return;
    const bool compound = r.metre.beatsPerBar == 3;
    const size_t group = compound ? 3 : 2;
    BeatTrack grouped;
    for (size_t i = size_t(r.metre.firstDownbeat) % group; i < beats.size(); i += group) grouped.beats.push_back(beats[i]);
    if (grouped.beats.size() < 6) return;
    grouped.tempoBpm = MedianTempo(grouped.beats);
    r.beats = grouped;
    r.metre = EstimateMetre(envelope, r.beats.beats, notes, 0, compound);
}

// Fast quarter beats over steady eighths whose accents (notes starting, a
// bass note among them) come every three eighths rather than every two are
// a compound metre: the beat is a dotted quarter of three of those eighths.
constexpr double kEighthsFilled = 0.6;    // of the points halfway between beats with a note
constexpr double kThreesOverTwos = 1.5;   // accent contrast of three eighths against two
constexpr double kEighthWindow = 0.05;    // seconds around an eighth for a note to start on it

// The best contrast of the mean accent on one phase of `period` against the
// others, and its phase.
std::pair<double, size_t> PhaseContrast(const std::vector<double>& accent, size_t period) {
    std::pair<double, size_t> best{-1e30, 0};
    for (size_t p = 0; p < period; ++p) {
        double on = 0, off = 0;
        size_t nOn = 0, nOff = 0;
        for (size_t i = 0; i < accent.size(); ++i) {
            if (i % period == p) {
                on += accent[i];
                ++nOn;
            } else {
                off += accent[i];
                ++nOff;
            }
        }
        const double c = on / double(nOn) - off / double(nOff);
        if (c > best.first) best = {c, p};
    }
    return best;
}

bool RegroupEighthsInThrees(RhythmAnalysis& r, const std::vector<TranscribedNote>& notes) {
    const std::vector<double>& beats = r.beats.beats;
    if (beats.size() < 12 || r.beats.tempoBpm < kFastestSubdivided || notes.size() < 16) return false;
    std::vector<double> eighths;
    for (size_t i = 0; i < beats.size(); ++i) {
        eighths.push_back(beats[i]);
        if (i + 1 < beats.size()) eighths.push_back(0.5 * (beats[i] + beats[i + 1]));
    }
    std::vector<const TranscribedNote*> sorted;
    for (const auto& n : notes) sorted.push_back(&n);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const TranscribedNote* a, const TranscribedNote* b) { return a->onset < b->onset; });
    const int lowPitch = BassPitchLimit(notes);
    const double window = std::min(kEighthWindow, (beats.back() - beats.front()) / double(eighths.size()) / 3);
    std::vector<double> count(eighths.size(), 0), bass(eighths.size(), 0);
    size_t halfwayFilled = 0;
    for (size_t i = 0; i < eighths.size(); ++i) {
        auto it = std::lower_bound(sorted.begin(), sorted.end(), eighths[i] - window,
                                   [](const TranscribedNote* n, double t) { return n->onset < t; });
        for (; it != sorted.end() && (*it)->onset <= eighths[i] + window; ++it) {
            count[i] += 1;
            if ((*it)->pitch <= lowPitch) bass[i] = 1;
        }
        if (i % 2 == 1 && count[i] > 0) ++halfwayFilled;
    }
    if (double(halfwayFilled) < kEighthsFilled * double(beats.size() - 1)) return false;
    std::vector<double> accent(eighths.size(), 0);
    for (const std::vector<double>* f : {&count, &bass}) {
        double mean = 0, var = 0;
        for (double x : *f) mean += x;
        mean /= double(f->size());
        for (double x : *f) var += (x - mean) * (x - mean);
        const double sd = std::sqrt(var / double(f->size()));
        if (sd > 1e-9)
            for (size_t i = 0; i < f->size(); ++i) accent[i] += ((*f)[i] - mean) / sd;
    }
    const auto twos = PhaseContrast(accent, 2);
    const auto threes = PhaseContrast(accent, 3);
    if (threes.first <= 0 || threes.first < kThreesOverTwos * std::max(0.0, twos.first)) return false;
    BeatTrack grouped;
    for (size_t i = threes.second; i < eighths.size(); i += 3) grouped.beats.push_back(eighths[i]);
    grouped.tempoBpm = MedianTempo(grouped.beats);
    r.beats = grouped;
    return true;
}

// Piano music moves in halves of its beat or faster. When the notes of a
// texture of more than one voice move mostly more than half a beat apart but
// less than a whole one (dotted rhythms and triplets of a slower beat) and
// leave beats without a note now and then, the beat found is the eighth of
// the beat a musician would write: every other beat is kept, from the first
// downbeat on, and the bar lines stay (a bar of four such beats is one of
// two; other bars are counted again). Notes a whole beat apart (a waltz),
// chords on every beat (a chorale) and a single line (a plain melody) keep
// their beat.
constexpr double kSlowMotion = 0.6;     // typical onset distance, of a beat, from which the beat is halved
constexpr double kBeatMotion = 0.9;     // and up to which (a beat apart, the notes move in the beat found)
constexpr double kSlowestHalved = 40.0; // beats a minute the halved beat keeps at least
constexpr double kVoices = 0.5;         // share of notes that start while another sounds
constexpr double kTogether = 0.04;      // seconds: notes starting this close sound together
constexpr double kEveryBeat = 0.9;      // share of beats with a note from which every beat sounds
constexpr double kOnBeat = 0.07;        // seconds around a beat for a note to start on it

double ShareSoundingWithOthers(const std::vector<TranscribedNote>& notes) {
    std::vector<const TranscribedNote*> sorted;
    for (const auto& n : notes) sorted.push_back(&n);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const TranscribedNote* a, const TranscribedNote* b) { return a->onset < b->onset; });
    size_t with = 0;
    double latestEnd = -1e30;
    for (size_t i = 0; i < sorted.size(); ++i) {
        const double t = sorted[i]->onset;
        const bool chord = (i > 0 && t - sorted[i - 1]->onset <= kTogether) ||
                           (i + 1 < sorted.size() && sorted[i + 1]->onset - t <= kTogether);
        if (chord || latestEnd > t + kTogether) ++with;
        latestEnd = std::max(latestEnd, sorted[i]->offset);
    }
    return sorted.empty() ? 0.0 : double(with) / double(sorted.size());
}

void HalveSlowMotion(RhythmAnalysis& r, const OnsetEnvelope& envelope, const std::vector<TranscribedNote>& notes) {
    const std::vector<double>& beats = r.beats.beats;
    if (beats.size() < 16 || r.metre.compound) return;
    if (r.beats.tempoBpm / 2 < kSlowestHalved) return;
    const double typical = TypicalOnsetGap(notes);
    const double beat = 60.0 / r.beats.tempoBpm;
    if (typical <= kSlowMotion * beat || typical >= kBeatMotion * beat) return;
    if (ShareSoundingWithOthers(notes) < kVoices) return;
    const std::vector<double> onsets = SortedOnsets(notes);
    const double window = std::min(kOnBeat, 10.0 / r.beats.tempoBpm);
    const size_t sounded =
        size_t(std::count_if(beats.begin(), beats.end(), [&](double b) { return AnyWithin(onsets, b, window); }));
    if (double(sounded) >= kEveryBeat * double(beats.size())) return;
    BeatTrack halved;
    for (size_t i = size_t(r.metre.firstDownbeat) % 2; i < beats.size(); i += 2) halved.beats.push_back(beats[i]);
    halved.tempoBpm = MedianTempo(halved.beats);
    const Metre before = r.metre;
    r.beats = halved;
    if (before.beatsPerBar == 4) {
        r.metre.beatsPerBar = 2;
        r.metre.firstDownbeat = before.firstDownbeat / 2;
    } else {
        r.metre = EstimateMetre(envelope, r.beats.beats, notes);
    }
}

}  // namespace

RhythmAnalysis AnalyseRhythm(const OnsetEnvelope& envelope, const std::vector<TranscribedNote>& notes,
                             const BeatTrackingOptions& options) {
    RhythmAnalysis r;
    const std::vector<float> novelty = BeatNovelty(envelope.flux, envelope.frameRate);
    r.beats = TrackBeats(novelty, envelope.frameRate, options);
    if (options.tempoBpm <= 0) r.beats = CheckLevelWithNotes(r.beats, novelty, envelope.frameRate, notes);
    if (options.tempoBpm <= 0 && RegroupEighthsInThrees(r, notes)) {
        r.metre = EstimateMetre(envelope, r.beats.beats, notes, 0, true);
    } else {
        r.metre = EstimateMetre(envelope, r.beats.beats, notes);
        if (options.tempoBpm <= 0) {
            const size_t found = r.beats.beats.size();
            GroupFastBeats(r, envelope, notes);
            if (r.beats.beats.size() == found) HalveSlowMotion(r, envelope, notes);
        }
    }
    r.key = EstimateKey(notes);
    return r;
}

RhythmAnalysis AnalyseRhythm(const AudioDocument& doc, const std::vector<TranscribedNote>& notes,
                             const BeatTrackingOptions& options, unsigned threads) {
    return AnalyseRhythm(ComputeOnsetEnvelope(doc, threads), notes, options);
}

}  // namespace notavox
