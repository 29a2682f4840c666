#include "cli/ConvertJob.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "audio/Interrupt.h"
#include "audio/SafeFile.h"
#include "audio/SampleFormat.h"
#include "audio/WavFile.h"
#include "transcription/MidiConversion.h"

namespace notavox::cli {

namespace {

std::string upperExtension(const std::string& name) {
    const size_t slash = name.rfind('/');
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
    std::string ext = name.substr(dot);
    for (char& c : ext) c = char(std::toupper(static_cast<unsigned char>(c)));
    return ext;
}

constexpr const char* kOpenFailed = "Konnte Datei nicht öffnen";
constexpr const char* kSaveFailed = "Konnte Datei nicht speichern";

}  // namespace

OutputKind OutputKindOf(const std::string& fileName) {
    const std::string ext = upperExtension(fileName);
    if (ext == ".MID" || ext == ".MIDI") return OutputKind::Midi;
    if (ext == ".WAV") return OutputKind::Wav;
    if (ext == ".MP3") return OutputKind::Mp3;
    return OutputKind::Unknown;
}

bool IsMp3Name(const std::string& fileName) { return upperExtension(fileName) == ".MP3"; }

bool LoadRecording(const std::string& fileName, AudioDocument& doc, const Mp3Codecs& codecs, std::string* cause) {
    WavData wav;
    WavReadFailure why;
    bool ok;
    if (IsMp3Name(fileName)) {
        if (!codecs.decodeToWav) {
            if (cause) *cause = "MP3-Eingabe ist nicht verfügbar";
            return false;
        }
        const std::string temp = MakeTempFileName("tempwav", ".wav");
        if (temp.empty()) {
            if (cause) *cause = "Konnte die temporäre Datei nicht erstellen";
            return false;
        }
        TempFileGuard guard(temp);  // an interrupt removes it
        const std::string decoderMessage = codecs.decodeToWav(fileName, temp);
        ok = decoderMessage.empty() && ReadWAVFile(temp, wav, &why);
        std::remove(temp.c_str());
        if (!ok && cause) *cause = decoderMessage.empty() ? WavReadErrorText(why) : decoderMessage;
    } else {
        ok = ReadWAVFile(fileName, wav, &why);
        if (!ok && cause) *cause = WavReadErrorText(why);
    }
    if (!ok) return false;
    doc.replace(std::move(wav.block), wav.byteCount, wav.sampleRate, wav.stereo, wav.sixteenBit);
    return true;
}

namespace {
std::string withCause(const char* text, const std::string& cause) {
    return cause.empty() ? std::string(text) : std::string(text) + ": " + cause;
}
}  // namespace

JobResult ConvertFile(const std::string& input, const std::string& output, OperationHost& host,
                      const Mp3Codecs& codecs, unsigned threads) {
    JobResult result;
    const OutputKind kind = OutputKindOf(output);
    if (kind == OutputKind::Unknown) {
        result.message = "Unbekannte Dateiendung (erwartet .mid, .wav oder .mp3)";
        return result;
    }
    AudioDocument doc;
    std::string cause;
    if (!LoadRecording(input, doc, codecs, &cause)) {
        result.message = withCause(kOpenFailed, cause);
        result.aboutInput = true;
        return result;
    }
    switch (kind) {
        case OutputKind::Midi: {
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
