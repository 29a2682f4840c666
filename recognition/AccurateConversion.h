// The accurate analysis from the recording to the MIDI file: mono, peak
// normalisation and 16 kHz, features, network, note decoding, song and file.
//
// The recording is worked through in blocks of frames, so that memory stays
// small whatever its length: per block the 16 kHz pieces it needs, its
// features and the network's outputs; the decoder carries each key's state
// from block to block. Both cores share every step. Neither the block size
// nor the number of threads changes a single output value.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio/AudioDocument.h"
#include "audio/OperationHost.h"
#include "recognition/Model.h"
#include "recognition/NetworkOutputs.h"
#include "transcription/TranscribedNote.h"

namespace notavox::recognition {

struct TranscribeOptions {
    unsigned threads = 0;        // 0: one per core
    int32_t blockFrames = 3808;  // frames of one block (38 s, 16 tiles of the network)
    const DecodeSettings* decode = nullptr;  // null: the model's thresholds
    // Called with the network's outputs of frames [t0, t0 + count) in order;
    // key k of frame t at [k * stride + t - t0].
    std::function<void(int64_t t0, int count, const float* onset, const float* frame, const float* velocity,
                       size_t stride)>
        outputs;
};

// Seconds spent in each step: wall clock, and processor time of all
// threads together.
struct StageTimes {
    double peak = 0, resample = 0, features = 0, network = 0, decode = 0, write = 0;
    double peakCpu = 0, resampleCpu = 0, featuresCpu = 0, networkCpu = 0, decodeCpu = 0, writeCpu = 0;
};

struct Transcription {
    bool cancelled = false;
    std::string error;  // German; empty when all went well
    std::vector<TranscribedNote> notes;
    int64_t frames = 0;
    StageTimes times;
};

// The notes of the recording. Progress goes to host.SetProStatus (0..100)
// on the calling thread; `cancel`, when given and set, ends the work early
// with `cancelled`. The recording is only read. A sample rate outside
// kLowestSampleRate..kHighestSampleRate is refused (`error`) before
// anything is allocated.
Transcription TranscribeRecording(const AudioDocument& doc, const Model& model, OperationHost& host,
                                  const std::atomic<bool>* cancel = nullptr, const TranscribeOptions& options = {});

enum class AccurateResult { NoRecording, Written, FileError, ModelError, Cancelled, Failed };

struct AccurateOutcome {
    AccurateResult result = AccurateResult::NoRecording;
    std::string message;  // German, for every result but Written
    int64_t notes = 0;
    int64_t frames = 0;
    StageTimes times;
};

inline constexpr const char* kCancelledText = "Die Umwandlung wurde abgebrochen.";

// Writes the notes found to the file; false when it could not be written.
// The whole conversion runs through Recogniser::convert.
using NotesWriter = std::function<bool(const std::vector<TranscribedNote>& notes, const std::string& fileName)>;

// `tuning` changes the model's decoding thresholds as the user asked, and
// `keep`, when given, receives the network's outputs and the settings they
// were decoded with (the window decodes them again).
struct AccurateTuning {
    DecodeOverrides overrides;
    NetworkOutputs* keep = nullptr;
    DecodeSettings* keptSettings = nullptr;
};

}  // namespace notavox::recognition
