// The tempo-mapped MIDI file of the accurate analysis as the user wants it,
// the same for notavox-convert and the window: first the analysis of the
// recording and its notes (the tempo, metre and key found, which a dialog
// shows for the user to change), then the file laid out and written with the
// user's choices.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "audio/AudioDocument.h"
#include "rhythm/KeyEstimate.h"
#include "rhythm/Metre.h"
#include "rhythm/OnsetEnvelope.h"
#include "rhythm/Quantize.h"
#include "rhythm/RhythmAnalysis.h"
#include "rhythm/TempoMidiFile.h"
#include "transcription/TranscribedNote.h"

namespace notavox {

// A fixed tempo lies in this range (beats a minute).
inline constexpr double kSlowestFixedBpm = 20.0;
inline constexpr double kFastestFixedBpm = 300.0;

// The beats the file follows: those found, every other one of them (half
// the tempo, the bars' first beats kept) or those found with one halfway
// between each two (twice the tempo).
enum class TempoLevel { Found, Half, Double };

struct TempoChoices {
    TempoLevel level = TempoLevel::Found;
    // 0: the tempo follows the beats found. Else one constant tempo of this
    // many beats a minute (a beat is a dotted quarter in compound metre)
    // from the start of the recording, where the first bar begins; the notes
    // stay at their times within half a tick.
    double tempoBpm = 0;
    QuantizeGrid grid = QuantizeGrid::Off;
    int strengthPercent = 100;  // 0..100
    // Instead of the metre found: the bar length (2, 3 or 4 beats) and
    // whether the beats are compound; the first downbeat is found for it.
    std::optional<Metre> metre;
    // Instead of the key found: tonic and mode.
    std::optional<KeyEstimate> key;
};

struct TempoAnalysis {
    OnsetEnvelope envelope;
    RhythmAnalysis found;  // beats and tempo, metre and first downbeat, key (from the notes)
};

// The beats found at the level chosen, and their tempo (from the median beat
// interval). The first downbeat found stays a beat at every level.
std::vector<double> BeatsAtLevel(const RhythmAnalysis& found, TempoLevel level);
double TempoAtLevel(const RhythmAnalysis& found, TempoLevel level);

// The beats, tempo, metre and key of a recording and the notes found in it.
// Deterministic for any thread count (0: every core).
TempoAnalysis AnalyseTempo(const AudioDocument& doc, const std::vector<TranscribedNote>& notes, unsigned threads = 0);

// What the file holds.
struct TempoMappedLayout {
    Metre metre;
    KeyEstimate key;
    TempoMappedNotes placed;
};

TempoMappedLayout LayOutTempoMapped(const TempoAnalysis& analysis, const std::vector<TranscribedNote>& notes,
                                    const TempoChoices& choices);

// Lays out and writes the file, replacing an old one only when the new one
// is complete; false when it could not be written (`error`, optional: the
// errno, see SaveErrorText).
bool SaveTempoMapped(const TempoAnalysis& analysis, const std::vector<TranscribedNote>& notes,
                     const TempoChoices& choices, const std::string& fileName, int* error = nullptr);

// The beats of the layout as lines for a view: each beat's time and whether
// it starts a bar, up to `seconds` (the length of the recording). A fixed
// tempo has its beats from the start of the recording on.
struct BeatLine {
    double seconds = 0;
    bool barStart = false;
};
std::vector<BeatLine> BeatLines(const TempoAnalysis& analysis, const TempoMappedLayout& layout,
                                const TempoChoices& choices, double seconds);

// "auto" (any letter case) gives 0, a number of beats a minute in the range
// above (a decimal point or comma) gives itself; nothing for other texts.
std::optional<double> ParseTempoBpm(const std::string& text);
// A whole number from 0 to 100, a percent sign after it allowed.
std::optional<int> ParseStrengthPercent(const std::string& text);

}  // namespace notavox
