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
#include "recognition/AccurateConversion.h"
#include "transcription/MidiConversion.h"

namespace notavox::cli {

namespace {

constexpr const char* kOpenFailed = "Konnte Datei nicht öffnen";
constexpr const char* kSaveFailed = "Konnte Datei nicht speichern";

}  // namespace

OutputKind OutputKindOf(const std::string& fileName) {
    const std::string ext = UpperExtension(fileName);
    if (ext == ".MID" || ext == ".MIDI") return OutputKind::Midi;
    if (ext == ".WAV") return OutputKind::Wav;
    if (ext == ".MP3") return OutputKind::Mp3;
    return OutputKind::Unknown;
}


namespace {
std::string withCause(const char* text, const std::string& cause) {
    return cause.empty() ? std::string(text) : std::string(text) + ": " + cause;
}
}  // namespace

JobResult ConvertFile(const std::string& input, const std::string& output, OperationHost& host,
                      const Mp3Codecs& codecs, unsigned threads, bool accurate, const TempoChoices& tempo) {
    JobResult result;
    const OutputKind kind = OutputKindOf(output);
    if (kind == OutputKind::Unknown) {
        result.message = "Unbekannte Dateiendung (erwartet .mid, .wav oder .mp3)";
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
        case OutputKind::Midi: {
            if (accurate) {
                const std::atomic<bool> never{false};
                const recognition::NotesWriter write = [&](const std::vector<TranscribedNote>& notes,
                                                           const std::string& fileName) {
                    return SaveTempoMapped(AnalyseTempo(doc, notes, threads), notes, tempo, fileName);
                };
                const recognition::AccurateOutcome outcome =
                    recognition::ConvertRecordingAccurate(doc, output, host, never, threads, std::string(), write);
                result.ok = outcome.result == recognition::AccurateResult::Written;
                result.notes = outcome.notes;
                if (!result.ok) result.message = outcome.message;
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
                result.message = FormatResultMessage(outcome.format);
                result.aboutInput = true;
            } else if (!result.ok) {
                result.message = kMidiFileErrorText;
            } else {
                result.message = FormatResultMessage(outcome.format);
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
