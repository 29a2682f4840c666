// The note recogniser as the window and the converter use it: the model is
// found beside the program (or taken from a named file), read and checked
// once, and every fault on the way is one German message. Both then run
// the accurate analysis through it.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "audio/AudioDocument.h"
#include "audio/OperationHost.h"
#include "recognition/AccurateConversion.h"
#include "recognition/Model.h"

namespace notavox::recognition {

class Recogniser {
public:
    // Reads `modelFile`, or when it is empty the first file of
    // ModelSearchPaths() that exists.
    explicit Recogniser(const std::string& modelFile = std::string());

    // True when the model was read and every value in it is in range.
    bool ready() const { return ready_; }
    // Why not (German): not found (with the places looked at), cannot be
    // read, damaged.
    const std::string& message() const { return message_; }
    const std::string& file() const { return file_; }
    const Model& model() const { return model_; }

    // The notes of the recording; a recogniser that is not ready, a sample
    // rate the analysis does not take and a lack of memory come back as
    // the error.
    Transcription transcribe(const AudioDocument& doc, OperationHost& host,
                             const std::atomic<bool>* cancel = nullptr,
                             const TranscribeOptions& options = TranscribeOptions()) const;

    // The whole conversion: the notes are written to `fileName` by `write`,
    // or when it is empty in the layout of "Speichern als MID..."
    // (WriteNotesAsMIDI). With no recording nothing is written. The
    // progress ends at 0. `notesOut`, when given, receives the notes that
    // were written (the window shows them).
    AccurateOutcome convert(const AudioDocument& doc, const std::string& fileName, OperationHost& host,
                            const std::atomic<bool>& cancel, unsigned threads = 0,
                            const NotesWriter& write = NotesWriter(),
                            std::vector<TranscribedNote>* notesOut = nullptr) const;

private:
    bool ready_ = false;
    std::string message_;
    std::string file_;
    Model model_;
};

// "Die Modelldatei notes.nvm wurde nicht gefunden. ..." with the places
// that were looked at, one a line.
std::string MissingModelText();

}  // namespace notavox::recognition
