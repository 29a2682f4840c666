// The whole conversion of the recording to a MIDI file, as the command
// "Speichern als MID..." and the command-line converter run it: standard
// format, note detection, track assembly, file, fresh song.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "audio/AudioDocument.h"
#include "audio/OperationHost.h"
#include "audio/SampleFormat.h"
#include "transcription/NoteList.h"

namespace notavox {

// The texts of the status bar's first panel during the conversion.
inline constexpr const char* kSortingNotesText = "Noten werden sortiert...";
inline constexpr const char* kSavingNotesText = "Noten werden gespeichert...";
// The message when the MIDI file cannot be created or written.
inline constexpr const char* kMidiFileErrorText = "Konnte die MIDI Datei nicht erstellen!";

// Points where the window takes part; every hook may be left empty.
struct MidiConversionHooks {
    // After the standard-format step, with its result (Unchanged when the
    // recording was already 8-bit mono).
    std::function<void(FormatResult)> formatStep;
    // After the detection, before the progress goes back to 0.
    std::function<void()> detectionDone;
    // The status panel text: the sorting text, the saving text, then "".
    std::function<void(const char*)> statusText;
    // After the file was written (true) or could not be (false), before the
    // song is renewed.
    std::function<void(bool)> fileWritten;
    // The recording keeps its format and samples: the analysis works on a
    // converted copy. When false the recording itself is converted, which
    // saves the second block (for callers that drop the recording anyway).
    bool keepRecording = true;
    // A failed standard-format step ends the conversion (FormatFailed, no
    // file written) instead of analysing the recording as it is.
    bool stopOnFormatFailure = false;
};

enum class MidiConversionResult { NoRecording, Written, FileError, FormatFailed };

struct MidiConversionOutcome {
    MidiConversionResult result = MidiConversionResult::NoRecording;
    FormatResult format = FormatResult::Unchanged;
    int32_t windows = 0;
    int64_t detections = 0;
    int64_t notes = 0;
    int fileError = 0;  // the errno when the file could not be written
    // Seconds spent in each stage.
    double formatSeconds = 0;
    double detectionSeconds = 0;
    double assemblySeconds = 0;
    double writeSeconds = 0;
};

// Converts the recording to `fileName`. The recording is left as it is unless
// hooks.keepRecording is false; the song is fresh afterwards. With no
// recording nothing happens.
MidiConversionOutcome ConvertRecordingToMIDI(AudioDocument& doc, Song& song, const std::string& fileName,
                                             OperationHost& host, const MidiConversionHooks& hooks = {},
                                             unsigned threads = 0);

}  // namespace notavox
