// The spectrum tools of the transcription: the 1024-point FFT, the frequency
// of every MIDI note and the map from FFT bins to notes.
#pragma once

#include <array>
#include <cstdint>

namespace notavox {

// Frequencies of MIDI notes 24..35, indexed by pitch class (C = 0 .. B = 11).
// They are the stored values of the program, not exact equal temperament.
extern const std::array<double, 12> baseFrequency;

using NoteFrequencyTable = std::array<double, 128>;
using BinToNoteTable = std::array<int32_t, 512>;

// The forward 1024-point complex FFT, scaled by 1/1024, of a real input x
// (imaginary parts 0), which stays as it is; the result goes to re and im.
// Its twiddle factors come from a half-angle recurrence, computed once and
// kept, and the butterflies run group by group so that the compiler can
// vectorise them. Every butterfly computes the expressions of the plain
// radix-2 transform (tests/transcription/ReferenceFFT), so the result has
// its very bits.
void FFT1024ForwardReal(const double* x, double* re, double* im);

// noteFrequency[n] = baseFrequency[n mod 12] * 2^(n div 12 - 2).
NoteFrequencyTable BuildNoteFrequency();

// The nearest note of every bin j (frequency j / 1024 * sampleRate); -1 below
// 31.5 Hz and from 50176 Hz up. Equal distances go to the lower note.
BinToNoteTable BuildBinToNote(int32_t sampleRate, const NoteFrequencyTable& noteFrequency);

}  // namespace notavox
