// One job of the command-line converter: read a recording, write it as MIDI
// (the conversion of "Speichern als MID...") or as WAV, with the program's
// own code and messages.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "audio/AudioDocument.h"
#include "audio/OperationHost.h"
#include "audio/Recording.h"
#include "recognition/Recogniser.h"
#include "recognition/NetworkOutputs.h"
#include "rhythm/TempoMappedExport.h"

namespace notavox::cli {

enum class OutputKind { Midi, Wav, Mp3, Score, Unknown };

// The kind of file a name asks for, by its extension in any case.
OutputKind OutputKindOf(const std::string& fileName);

// Where the MP3 codecs plug in. Empty functions mean that the codec is not
// there: an MP3 input then cannot be opened and an MP3 output not written.
struct Mp3Codecs {
    // Decodes an MP3 file into the recording, as the open command does.
    // Returns the decoder's message when it failed, else an empty string.
    Mp3Reader readMp3;
    // Writes the recording as an MP3 file. Returns the encoder's message when
    // that failed, else an empty string.
    std::function<std::string(const AudioDocument& doc, const std::string& mp3Name)> encode;
};

struct JobResult {
    bool ok = false;
    std::string message;  // the German message when !ok, or a warning
    bool aboutInput = false;  // the message concerns the input, not the output
    int64_t notes = 0;
};

// Converts `input` to `output`; the output's extension chooses the job.
// `threads` is the number of threads of the note detection (0: all cores).
// `accurate`, when given, makes a MIDI output with the accurate analysis
// (the note recogniser, loaded once for all jobs) instead of the one of
// "Speichern als MID...": a tempo-mapped file with time and key signature,
// laid out with `tempo`. A score output (.musicxml, .xml or .mxl) needs it.
JobResult ConvertFile(const std::string& input, const std::string& output, OperationHost& host,
                      const Mp3Codecs& codecs, unsigned threads,
                      const recognition::Recogniser* accurate = nullptr, const TempoChoices& tempo = TempoChoices(),
                      const recognition::DecodeOverrides& decoding = recognition::DecodeOverrides());

}  // namespace notavox::cli
