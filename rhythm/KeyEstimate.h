// The key and mode of a piece from its notes: a pitch-class histogram with
// each note weighted by its duration (at most 4 s), correlated with the
// major and minor key profiles of Temperley (from the Kostka-Payne corpus)
// rotated to each of the 12 tonics; the best of the 24 keys wins. They tell
// a major key from its relative minor better than the older probe-tone
// profiles on pieces with a melody over chords. More signs of the key are
// added to each key's correlation: how often its tonic is the bass (the
// lowest note of each chord, by duration) and how well the bass notes fit the
// key's profile, which tells a key from its dominant; how much more its own
// third sounds than the other third above the tonic; and for a minor key how
// much more its raised seventh (the leading tone) sounds than its natural
// one, which tells a minor key from its relative major.
#pragma once

#include <string>
#include <vector>

#include "transcription/TranscribedNote.h"

namespace notavox {

struct KeyEstimate {
    int tonic = 0;  // pitch class, C = 0
    bool minor = false;
    double confidence = 0;  // profile correlation of the best key, -1..1; 0 without notes
    double margin = 0;      // its lead in score over the second best key

    // Sharps (positive) or flats (negative) of the key signature, -6..6 (the
    // spelling with fewer accidentals; F sharp major and D sharp minor with 6 sharps).
    int sharps() const;
    // The key's German name, "C-Dur", "fis-Moll", "Es-Dur".
    std::string name() const;
};

KeyEstimate EstimateKey(const std::vector<TranscribedNote>& notes);

}  // namespace notavox
