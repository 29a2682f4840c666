// Note detection: the recording is cut into consecutive windows of 1024
// frames; each window's spectrum gives a level per MIDI note, and the notes
// that stand out become one detection each (a note-on lasting one window).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "audio/AudioDocument.h"
#include "audio/OperationHost.h"
#include "transcription/NoteList.h"
#include "transcription/Spectrum.h"

namespace notavox {

constexpr int32_t kWindowLength = 1024;

// The tables of one conversion, built for the recording's sample rate.
struct DetectionTables {
    explicit DetectionTables(int32_t sampleRate);
    int32_t sampleRate;
    NoteFrequencyTable noteFrequency;
    BinToNoteTable binToNote;
};

// The per-window analysis results, exposed for tests: the levels after
// averaging (before the octave suppression) and the peak above 1.0.
struct WindowLevels {
    std::array<double, 128> noteLevel;
    std::array<double, 128> binCount;
    double peakLevel;
};

// The velocity of a note of the given level: Trunc(level * 500 / 10) in
// doubles, limited to 127.
uint8_t VelocityOf(double level);

// Number of windows for `frameCount` frames: frameCount div 1024 + 1 (the last
// one holds the rest, padded with zeros, and is empty for a multiple of 1024).
int32_t WindowCount(int32_t frameCount);

// Analyses window `windowIndex` of the recording and appends its detections
// to `out` in ascending note order. `levels`, when given, receives the levels.
void DetectWindow(const AudioDocument& doc, const DetectionTables& tables, int32_t windowIndex,
                  std::vector<NoteEvent>& out, WindowLevels* levels = nullptr);

// Detects the notes of the whole recording and appends them to `editList` in
// window order. The windows are analysed on `threads` threads (0: every
// core); the result does not depend on the count. Progress goes to
// host.SetProStatus on the calling thread, ending at 100 (the caller sets it
// back to 0). Returns the number of detections.
int64_t DetectNotes(const AudioDocument& doc, TDynaArray& editList, OperationHost& host, unsigned threads = 0);

}  // namespace notavox
