// The note tables of the transcription: the frequency of every MIDI note and
// the map from the bins of its 1024-point FFT (transcription/Fft.h) to notes.
#pragma once

#include <array>
#include <cstdint>

namespace notavox {

// Frequencies of MIDI notes 24..35, indexed by pitch class (C = 0 .. B = 11).
// They are the stored values of the program, not exact equal temperament.
extern const std::array<double, 12> baseFrequency;

using NoteFrequencyTable = std::array<double, 128>;
using BinToNoteTable = std::array<int32_t, 512>;

// noteFrequency[n] = baseFrequency[n mod 12] * 2^(n div 12 - 2).
NoteFrequencyTable BuildNoteFrequency();

// The nearest note of every bin j (frequency j / 1024 * sampleRate); -1 below
// 31.5 Hz and from 50176 Hz up. Equal distances go to the lower note.
BinToNoteTable BuildBinToNote(int32_t sampleRate, const NoteFrequencyTable& noteFrequency);

}  // namespace notavox
