#include "rhythm/RhythmAnalysis.h"

#include <algorithm>

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
    std::vector<double> onsets;
    for (const auto& n : notes) onsets.push_back(n.onset);
    std::sort(onsets.begin(), onsets.end());
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
    r.metre = EstimateMetre(envelope, r.beats.beats, notes);
    r.metre.compound = compound;
}

}  // namespace

RhythmAnalysis AnalyseRhythm(const OnsetEnvelope& envelope, const std::vector<TranscribedNote>& notes,
                             const BeatTrackingOptions& options) {
    RhythmAnalysis r;
    const std::vector<float> novelty = BeatNovelty(envelope.flux, envelope.frameRate);
    r.beats = TrackBeats(novelty, envelope.frameRate, options);
    if (options.tempoBpm <= 0) r.beats = CheckLevelWithNotes(r.beats, novelty, envelope.frameRate, notes);
    r.metre = EstimateMetre(envelope, r.beats.beats, notes);
    if (options.tempoBpm <= 0) GroupFastBeats(r, envelope, notes);
    r.key = EstimateKey(notes);
    return r;
}

RhythmAnalysis AnalyseRhythm(const AudioDocument& doc, const std::vector<TranscribedNote>& notes,
                             const BeatTrackingOptions& options, unsigned threads) {
    return AnalyseRhythm(ComputeOnsetEnvelope(doc, threads), notes, options);
}

}  // namespace notavox
