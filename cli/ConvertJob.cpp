#include "cli/ConvertJob.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>

#include "audio/Interrupt.h"
#include "audio/Recording.h"
#include "audio/SafeFile.h"
#include "audio/SampleFormat.h"
#include "audio/WavFile.h"
#include "notation/ScoreExport.h"
#include "transcription/MidiConversion.h"

namespace notavox::cli {

namespace {

constexpr const char* kOpenFailed = "Konnte Datei nicht öffnen";
constexpr const char* kSaveFailed = "Konnte Datei nicht speichern";
constexpr const char* kScoreFileErrorText = "Das Notenblatt konnte nicht gespeichert werden.";
constexpr const char* kUnknownExtensionText = "Unbekannte Dateiendung (erwartet .mid, .wav, .mp3, .musicxml oder .mxl)";

}  // namespace

OutputKind OutputKindOf(const std::string& fileName) {
    const std::string ext = UpperExtension(fileName);
    if (ext == ".MID" || ext == ".MIDI") return OutputKind::Midi;
    if (ext == ".WAV") return OutputKind::Wav;
    if (ext == ".MP3") return OutputKind::Mp3;
    if (ext == ".MUSICXML" || ext == ".XML" || ext == ".MXL") return OutputKind::Score;
    return OutputKind::Unknown;
}


namespace {
std::string withCause(const char* text, const std::string& cause) {
    return cause.empty() ? std::string(text) : std::string(text) + ": " + cause;
}
// "Konnte die MIDI Datei nicht erstellen! Der Datenträger ist voll."
std::string midiFileError(int error) {
    const std::string cause = SaveErrorText(error);
    return cause.empty() ? std::string(kMidiFileErrorText) : std::string(kMidiFileErrorText) + " " + cause;
}
}  // namespace

JobResult ConvertFile(const std::string& input, const std::string& output, OperationHost& host,
                      const Mp3Codecs& codecs, unsigned threads, const recognition::Recogniser* accurate,
                      const TempoChoices& tempo, const recognition::DecodeOverrides& decoding) {
    JobResult result;
    const OutputKind kind = OutputKindOf(output);
    if (kind == OutputKind::Unknown) {
        result.message = kUnknownExtensionText;
        return result;
    }
    AudioDocument doc;
    std::string cause;
    if (!LoadRecording(input, doc, codecs.readMp3, &cause)) {
        result.message = withCause(kOpenFailed, cause);
        result.aboutInput = true;
        return result;
    }
    switch (kind) {
        case OutputKind::Midi:
        case OutputKind::Score: {
            if (kind == OutputKind::Score && !accurate) {
                result.message = "Ein Notenblatt braucht die genaue Analyse";
                break;
            }
            if (accurate) {
                const std::atomic<bool> never{false};
                int writeError = 0;
                std::string scoreCause;
                const recognition::NotesWriter write = [&](const std::vector<TranscribedNote>& notes,
                                                           const std::string& fileName) {
                    const TempoAnalysis analysis = AnalyseTempo(doc, notes, threads);
                    if (kind == OutputKind::Score)
                        return notation::SaveScoreFromAnalysis(analysis, notes, tempo, fileName, &scoreCause);
                    return SaveTempoMapped(analysis, notes, tempo, fileName, &writeError);
                };
                const recognition::AccurateOutcome outcome = accurate->convert(
                    doc, output, host, never, threads, write, nullptr, recognition::AccurateTuning{decoding, nullptr, nullptr});
                result.ok = outcome.result == recognition::AccurateResult::Written;
                result.notes = outcome.notes;
                if (outcome.result == recognition::AccurateResult::FileError)
                    result.message = kind == OutputKind::Score
                                         ? std::string(kScoreFileErrorText) + (scoreCause.empty() ? "" : " " + scoreCause)
                                         : midiFileError(writeError);
                else if (!result.ok)
                    result.message = outcome.message;
                break;
            }
            Song song;
            MidiConversionHooks hooks;
            hooks.keepRecording = false;       // the recording is dropped afterwards
            hooks.stopOnFormatFailure = true;  // no MIDI file from a recording that could not be converted
            const MidiConversionOutcome outcome = ConvertRecordingToMIDI(doc, song, output, host, hooks, threads);
            result.ok = outcome.result == MidiConversionResult::Written;
            result.notes = outcome.notes;
            if (outcome.result == MidiConversionResult::FormatFailed) {
                result.message = FormatResultMessage(outcome.format, doc.sampleRate);
                result.aboutInput = true;
            } else if (!result.ok) {
                result.message = midiFileError(outcome.fileError);
            } else {
                result.message = FormatResultMessage(outcome.format, doc.sampleRate);
            }
            break;
        }
        case OutputKind::Wav: {
            int error = 0;
            result.ok = WriteWAVFile(output, doc.sampleData.get(), doc.stereo, doc.sixteenBit, doc.sampleRate,
                                     doc.byteCount, &error);
            if (!result.ok) result.message = withCause(kSaveFailed, SaveErrorText(error));
            break;
        }
        case OutputKind::Mp3:
            if (!codecs.encode) {
                result.message = "MP3-Ausgabe ist nicht verfügbar";
            } else {
                result.message = codecs.encode(doc, output);
                result.ok = result.message.empty();
            }
            break;
        case OutputKind::Unknown:
            break;
    }
    return result;
}

}  // namespace notavox::cli
