// Beat times from the beat novelty by dynamic programming over (frame,
// beat period): a beat at frame t with period p follows a beat at t - p
// whose period differed by at most 8 % (two to six frames). The score adds the novelty at
// every beat and subtracts a penalty for each change of period (squared log
// ratio) and for the distance from the global tempo, so the beats follow
// gradual tempo changes but not single stray onsets. The global tempo comes
// from TempoEstimate; the beats are tracked again around the tempo they
// show. Then the metrical level is checked: when every other beat is much
// weaker (at most about a third of the others) and mostly without an onset,
// the beat is taken at half the tempo;
// when the points halfway between the beats carry onsets almost always and
// nearly as strong as the beats, at twice the tempo (either only within 57
// to 190 beats a minute, the range of the music this is made for).
#pragma once

#include <vector>

#include "transcription/TranscribedNote.h"

namespace notavox {

struct BeatTrackingOptions {
    double tempoBpm = 0;   // 0: detect the tempo; else beats at this tempo (+-4 %)
    double priorBpm = 120;
};

struct BeatTrack {
    std::vector<double> beats;  // seconds, ascending
    double tempoBpm = 0;        // from the median beat interval; 0 with fewer than 2 beats
};

BeatTrack TrackBeats(const std::vector<float>& novelty, double frameRate, const BeatTrackingOptions& options = {});

// The metrical level checked against the notes: when the notes move mostly
// in quarters of the beat or faster (their typical distance at most 0.3 of a
// beat), the bass starts halfway between the beats at least 0.3 times as
// often as on them, the notes do not divide the beat in three rather than in
// two, and twice the tempo stays at most 190 beats a minute,
// the beat found is half the beat a musician would write, and the beats are
// tracked again at twice the tempo. Otherwise `track` is returned as it is.
BeatTrack CheckLevelWithNotes(const BeatTrack& track, const std::vector<float>& novelty, double frameRate,
                              const std::vector<TranscribedNote>& notes);

// The typical distance of the notes' onsets (the median gap between onsets
// more than 40 ms apart), seconds; 0 with fewer than 16 gaps.
double TypicalOnsetGap(const std::vector<TranscribedNote>& notes);

// The median interval of ascending beat times as beats a minute; 0 with
// fewer than two beats.
double MedianTempo(const std::vector<double>& beats);

// The notes' onset times, ascending.
std::vector<double> SortedOnsets(const std::vector<TranscribedNote>& notes);

// Whether one of the ascending `times` lies within `window` of t.
bool AnyWithin(const std::vector<double>& times, double t, double window);

// The pitch at the top of the notes' lowest fifth: the bass lies at or below
// it. `notes` must not be empty.
int BassPitchLimit(const std::vector<TranscribedNote>& notes);

}  // namespace notavox
