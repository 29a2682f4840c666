// Pieces with known beats and key for the rhythm tests and the accuracy
// bench: generated notes (melody over a bass and chords in a key, steady or
// with a gradual tempo change), their rendering with the fluidsynth command,
// click tracks, and the beat F-measure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rhythm/OnsetEnvelope.h"
#include "transcription/TranscribedNote.h"

namespace notavox::testing {

// A small generator of its own so that the pieces are the same everywhere.
struct Rng {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int below(int n) { return int(next() % uint32_t(n)); }
    double unit() { return double(next() % 1000000u) / 1000000.0; }
};

// Beats matched one to one within `window` seconds: F = 2PR / (P + R);
// 0 when either list is empty.
double BeatFMeasure(const std::vector<double>& reference, const std::vector<double>& estimated,
                    double window = 0.07);

// Notes matched one to one by pitch with onsets at most `window` seconds
// apart: F1 of precision and recall; 0 when nothing matches.
double OnsetF1(const std::vector<TranscribedNote>& reference, const std::vector<TranscribedNote>& estimated,
               double window = 0.05);

enum class Accompaniment { BlockChords, BrokenChords, Waltz, Sparse };

struct PieceSpec {
    double bpm = 120;
    double endBpm = 0;  // 0: steady; else the tempo moves evenly to this by the last beat
    int beatsPerBar = 4;
    int bars = 16;
    int tonic = 0;  // pitch class
    bool minor = false;
    Accompaniment accompaniment = Accompaniment::BlockChords;
    int program = 0;  // General MIDI program of every note
    uint32_t seed = 1;
    double start = 0.5;  // seconds before the first beat
};

struct Piece {
    PieceSpec recipe;
    std::vector<TranscribedNote> notes;
    std::vector<double> beats;  // every beat of every bar, seconds
};

Piece MakePiece(const PieceSpec& recipe);

// A scale up and down (one octave, quarter notes at 100 beats a minute, the
// tonic held at the end) or a cadence I-IV-V-I (i-iv-V-i in minor) of block
// chords with the tonic in the bass.
Piece MakeScale(int tonic, bool minor);
Piece MakeCadence(int tonic, bool minor);

// A format 0 file of the notes for rendering: 1000 ticks a quarter at the
// default tempo, so a tick is half a millisecond.
bool WriteRenderMidi(const Piece& piece, const std::string& path);

// The fluidsynth command line, when there is one, and the test sound font.
bool HaveFluidsynth();
inline constexpr const char* kTestSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
// Renders a MIDI file to a 16-bit stereo WAV file at `rate`.
bool Render(const std::string& midiPath, const std::string& wavPath, const std::string& soundFont, int rate);
// The piece written as the MIDI file `midiPath` (WriteRenderMidi) and
// rendered from it with the test sound font into `wavPath`; false when
// either step failed.
bool RenderPiece(const Piece& piece, const std::string& midiPath, const std::string& wavPath, int rate);

// Mono clicks (a decaying 1 kHz tone burst of 20 ms) at the given times.
std::vector<float> ClickTrack(const std::vector<double>& times, double seconds, int rate);

// The onset envelope of such clicks at 22,050 Hz.
OnsetEnvelope ClickEnvelope(const std::vector<double>& clicks);

// A MIDI file as python3-mido plays it (tests/rhythm/midi_times.py).
struct MidoNote {
    int pitch;
    double onset, offset;  // seconds from the file's tempo map; offset -1 while unended
    int64_t onTick, offTick;
};
struct MidoTempo {
    uint32_t microsPerQuarter;
    double seconds;
    int64_t tick;
};
struct MidoReading {
    std::vector<MidoNote> notes;  // in file order of the note-ons; an off ends the earliest open note of its pitch
    std::vector<MidoTempo> tempos;
};
bool HaveMido();
MidoReading ReadWithMido(const std::string& path);

}  // namespace notavox::testing
