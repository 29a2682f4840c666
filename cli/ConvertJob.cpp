#include "cli/ConvertJob.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>

#include "audio/SampleFormat.h"
#include "audio/WavFile.h"
#include "recognition/AccurateConversion.h"
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

bool LoadRecording(const std::string& fileName, AudioDocument& doc, const Mp3Codecs& codecs) {
    WavData wav;
    bool ok;
    if (IsMp3Name(fileName)) {
        if (!codecs.decodeToWav) return false;
        const std::string temp = MakeTempFileName("tempwav", ".wav");
        if (temp.empty()) return false;
        codecs.decodeToWav(fileName, temp);
        ok = ReadWAVFile(temp, wav);
        std::remove(temp.c_str());
    } else {
        ok = ReadWAVFile(fileName, wav);
    }
    if (!ok) return false;
    doc.replace(std::move(wav.block), wav.byteCount, wav.sampleRate, wav.stereo, wav.sixteenBit);
    return true;
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
    if (!LoadRecording(input, doc, codecs)) {
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
