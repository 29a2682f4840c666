// The spectrum tools of the transcription: an in-place radix-2 FFT whose
// twiddle factors come from a half-angle recurrence (no trigonometric call),
// the frequency of every MIDI note and the map from FFT bins to notes.
#pragma once

#include <array>
#include <cstdint>

namespace notavox {

// Frequencies of MIDI notes 24..35, indexed by pitch class (C = 0 .. B = 11).
// They are the stored values of the program, not exact equal temperament.
extern const std::array<double, 12> baseFrequency;

using NoteFrequencyTable = std::array<double, 128>;
using BinToNoteTable = std::array<int32_t, 512>;

// In-place complex FFT of N = 2^m points on separate real and imaginary
// arrays. direction 1 is the forward transform scaled by 1/N; any other value
// the unscaled inverse. Always returns 1.
int32_t FFT(int32_t direction, int32_t m, double* re, double* im);

// The forward 1024-point transform of FFT(1, 10, re, im) with the same bits in
// the result: the recurrence's twiddle factors are computed once and kept, and
// the butterflies run group by group so that the compiler can vectorise them.
void FFT1024Forward(double* re, double* im);
// The same transform of a real input x (imaginary parts 0), which stays as it
// is; the result goes to re and im and equals FFT1024Forward's in value.
void FFT1024ForwardReal(const double* x, double* re, double* im);

// noteFrequency[n] = baseFrequency[n mod 12] * 2^(n div 12 - 2).
NoteFrequencyTable BuildNoteFrequency();

// The nearest note of every bin j (frequency j / 1024 * sampleRate); -1 below
// 31.5 Hz and from 50176 Hz up. Equal distances go to the lower note.
BinToNoteTable BuildBinToNote(int32_t sampleRate, const NoteFrequencyTable& noteFrequency);

}  // namespace notavox
