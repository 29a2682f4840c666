#include "rhythm/RhythmAnalysis.h"

namespace notavox {

RhythmAnalysis AnalyseRhythm(const OnsetEnvelope& envelope, const std::vector<TranscribedNote>& notes,
                             const BeatTrackingOptions& options) {
    RhythmAnalysis r;
    const std::vector<float> novelty = BeatNovelty(envelope.flux, envelope.frameRate);
    r.beats = TrackBeats(novelty, envelope.frameRate, options);
    if (options.tempoBpm <= 0) r.beats = CheckLevelWithNotes(r.beats, novelty, envelope.frameRate, notes);
    r.metre = EstimateMetre(envelope, r.beats.beats, notes);
    r.key = EstimateKey(notes);
    return r;
}

RhythmAnalysis AnalyseRhythm(const AudioDocument& doc, const std::vector<TranscribedNote>& notes,
                             const BeatTrackingOptions& options, unsigned threads) {
    return AnalyseRhythm(ComputeOnsetEnvelope(doc, threads), notes, options);
}

}  // namespace notavox
