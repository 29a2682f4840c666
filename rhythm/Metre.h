// The metre and the first downbeat from the beats. Every beat gets an accent:
// the onset strength and the bass onset strength at the beat and, when the
// notes are known, the number of notes starting on it, whether one of them is
// a bass note and how much the harmony (pitch classes sounding until the next
// beat) changed from the previous beat. For 2, 3 and 4 beats a bar and each
// phase, the mean accent of the beats on that phase is compared with the
// others; the bar length and phase with the clearest contrast win (2 beats
// must beat 4 clearly, since 4/4 with a strong third beat looks alike). When
// the thirds of the beats carry more onsets than their halves, the metre is
// compound (6/8 with two beats of a dotted quarter). Compound bars hold two
// or three beats: four dotted quarters are written as two bars of 6/8.
#pragma once

#include <vector>

#include "rhythm/OnsetEnvelope.h"
#include "transcription/TranscribedNote.h"

namespace notavox {

struct Metre {
    int beatsPerBar = 4;    // 2, 3 or 4
    bool compound = false;  // each beat a dotted quarter of three eighths
    int firstDownbeat = 0;  // index of the first beat that starts a bar

    int numerator() const { return compound ? 3 * beatsPerBar : beatsPerBar; }
    int denominator() const { return compound ? 8 : 4; }
};

// `notes` may be empty. `beatsPerBar` 2, 3 or 4 takes that bar length as
// given and finds only its first downbeat and whether it is compound; 0
// finds the bar length too. `compoundBeats`: the beats are known to be
// dotted quarters (the result is compound).
Metre EstimateMetre(const OnsetEnvelope& envelope, const std::vector<double>& beats,
                    const std::vector<TranscribedNote>& notes, int beatsPerBar = 0, bool compoundBeats = false);

}  // namespace notavox
