#include "cli/ConvertJob.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>

#include "audio/Recording.h"
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


JobResult ConvertFile(const std::string& input, const std::string& output, OperationHost& host,
                      const Mp3Codecs& codecs, unsigned threads, bool accurate) {
    JobResult result;
    const OutputKind kind = OutputKindOf(output);
    if (kind == OutputKind::Unknown) {
        result.message = "Unbekannte Dateiendung (erwartet .mid, .wav oder .mp3)";
        return result;
    }
    AudioDocument doc;
    if (!LoadRecording(input, doc, codecs.decodeToWav)) {
        result.message = kOpenFailed;
        return result;
    }
    switch (kind) {
        case OutputKind::Midi: {
            if (accurate) {
                const std::atomic<bool> never{false};
                const recognition::AccurateOutcome outcome =
                    recognition::ConvertRecordingAccurate(doc, output, host, never, threads);
                result.ok = outcome.result == recognition::AccurateResult::Written;
                result.notes = outcome.notes;
                if (!result.ok) result.message = outcome.message;
                break;
            }
            Song song;
            const MidiConversionOutcome outcome = ConvertRecordingToMIDI(doc, song, output, host, {}, threads);
            result.ok = outcome.result == MidiConversionResult::Written;
            result.notes = outcome.notes;
            if (!result.ok) result.message = kMidiFileErrorText;
            else result.message = FormatResultMessage(outcome.format);
            break;
        }
        case OutputKind::Wav:
            result.ok = WriteWAVFile(output, doc.sampleData.get(), doc.stereo, doc.sixteenBit, doc.sampleRate,
                                     doc.byteCount);
            if (!result.ok) result.message = kSaveFailed;
            break;
        case OutputKind::Mp3:
            result.ok = codecs.encode && codecs.encode(doc, output);
            if (!result.ok) result.message = codecs.encode ? kSaveFailed : "MP3-Ausgabe ist nicht verfügbar";
            break;
        case OutputKind::Unknown:
            break;
    }
    return result;
}

}  // namespace notavox::cli
