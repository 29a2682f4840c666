// A score laid out for reading from notes in ticks: the notes go to staves
// (two for piano, the hands split where a player would split them; one for a
// single-line instrument), each staff to at most two voices, and every
// onset and end to the metre's grid (sixteenths; thirty-seconds, eighth or
// sixteenth triplets where a beat's onsets lie on them). The performance stays in the MIDI file; the
// score keeps what a player reads.
//
// Times in the score are in units of a 24th of a quarter note, so that
// thirty-seconds (3), sixteenth triplets (4), sixteenths (6) and eighth
// triplets (8) are whole numbers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rhythm/Quantize.h"
#include "rhythm/TempoMap.h"

namespace notavox::notation {

inline constexpr int kUnitsPerQuarter = 24;

struct TimeSignature {
    int64_t tick = 0;  // where it starts; taken at the bar line at or after it
    int beats = 4;
    int beatType = 4;
};

enum class StaffLayout { Auto, Piano, SingleLine };

struct ScoreInput {
    int ticksPerQuarter = 500;
    std::vector<TickNote> notes;
    std::vector<TimeSignature> metres;  // ascending; none: 4/4 from tick 0
    int fifths = 0;                     // key signature: sharps (positive) or flats
    bool minor = false;
    TempoMap tempo{500};  // the performance's tempo, for the tempo marks
    StaffLayout layout = StaffLayout::Auto;
    std::string title;
};

struct Pitch {
    char step = 'C';
    int alter = 0;
    int octave = 4;
};

// One note or rest (no pitches) of a voice, within one bar.
struct ScoreEvent {
    int64_t start = 0;  // units from the start of the score
    int duration = 0;   // units
    std::vector<int> pitches;  // ascending MIDI pitches; empty for a rest
    std::vector<bool> tieStart, tieStop;  // per pitch
    bool wholeBarRest = false;
    bool triplet = false;  // a member of a triplet group (eighths or sixteenths)
    int64_t group = 0;     // which group of its beat
    bool tupletStart = false, tupletStop = false;
};

struct ScoreVoice {
    int number = 1;  // 1 and 2 on the first staff, 5 and 6 on the second
    std::vector<ScoreEvent> events;  // fills the bar
};

struct Clef {
    char sign = 'G';  // 'G' (line 2) or 'F' (line 4)
};

struct ScoreStaff {
    Clef clef;         // at the start of the bar
    bool clefChanged = false;
    std::vector<ScoreVoice> voices;
};

struct ScoreBar {
    int64_t start = 0;  // units
    int length = 96;    // units
    int beats = 4, beatType = 4;
    bool newTime = false;  // a time signature at the start of the bar
    double tempoMark = 0;  // quarter notes a minute; 0: no mark at this bar
    std::vector<ScoreStaff> staves;
};

struct Score {
    std::string title;
    int fifths = 0;
    bool minor = false;
    int staves = 2;
    std::vector<ScoreBar> bars;
    int notes = 0;  // notes written (tied pieces count once)
};

Score LayOutScore(const ScoreInput& input);

// The spelling of a MIDI pitch in a key with the given sharps or flats: the
// seven notes of the key as the signature has them, the others as the
// nearest on the line of fifths (a raised seventh in minor, a lowered sixth
// in major).
Pitch SpellPitch(int midiPitch, int fifths, bool minor);

// Which staff (0: upper, 1: lower) each note goes to, in the order given:
// a split point that follows the music from chord to chord, weighing the
// span of each hand, how far each hand moves and the usual ranges of the
// hands. Onsets and ends in score units.
struct PlacedNote {
    int pitch;
    int64_t on, off;
};
std::vector<int> SplitHands(const std::vector<PlacedNote>& notes);

}  // namespace notavox::notation
