// Everything the tempo-mapped file needs from a recording and its notes:
// beats and tempo (BeatTracker), metre and first downbeat (Metre) and key
// (KeyEstimate). Deterministic: the same recording and notes give the same
// result for any thread count.
#pragma once

#include <vector>

#include "audio/AudioDocument.h"
#include "rhythm/BeatTracker.h"
#include "rhythm/KeyEstimate.h"
#include "rhythm/Metre.h"
#include "rhythm/OnsetEnvelope.h"
#include "transcription/TranscribedNote.h"

namespace notavox {

struct RhythmAnalysis {
    BeatTrack beats;
    Metre metre;
    KeyEstimate key;
};

// `notes` may be empty (the metre then rests on the audio alone and the key
// is C major with confidence 0).
RhythmAnalysis AnalyseRhythm(const OnsetEnvelope& envelope, const std::vector<TranscribedNote>& notes,
                             const BeatTrackingOptions& options = {});
RhythmAnalysis AnalyseRhythm(const AudioDocument& doc, const std::vector<TranscribedNote>& notes,
                             const BeatTrackingOptions& options = {}, unsigned threads = 0);

}  // namespace notavox
