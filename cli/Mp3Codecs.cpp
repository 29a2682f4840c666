#include "cli/Mp3Codecs.h"

#include "audio/SafeFile.h"
#include "audio/WavFile.h"
#include "codecs/Mp3Import.h"

namespace notavox::cli {

namespace {

template <size_t N>
bool parseEntry(const std::string& text, const int32_t (&entries)[N], int32_t& value) {
    for (int32_t e : entries) {
        if (text == std::to_string(e)) {
            value = e;
            return true;
        }
    }
    return false;
}

template <size_t N>
std::string joined(const int32_t (&entries)[N]) {
    std::string s;
    for (int32_t e : entries) s += (s.empty() ? "" : ", ") + std::to_string(e);
    return s;
}

}  // namespace

std::string InputFileCause(const std::string& fileName) {
    // The same reader and the same causes as for a WAV file.
    const InputFile file(fileName);
    if (file.isOpen()) return "keine MP3-Daten";
    WavReadFailure why;
    why.error = file.notRegular() ? WavReadError::NotRegular : WavReadError::CannotOpen;
    why.systemError = file.systemError();
    return WavReadErrorText(why);
}

bool ParseMp3OutputRate(const std::string& text, int32_t& rate) { return parseEntry(text, kMp3OutputRates, rate); }
bool ParseMp3BitRate(const std::string& text, int32_t& bitRate) { return parseEntry(text, kMp3BitRates, bitRate); }
std::string AllowedMp3OutputRates() { return joined(kMp3OutputRates); }
std::string AllowedMp3BitRates() { return joined(kMp3BitRates); }

Mp3Codecs MakeMp3Codecs(const Mp3Settings& settings) {
    Mp3Codecs codecs;
    codecs.readMp3 = [](const std::string& mp3Name, AudioDocument& doc) {
        // One decoder per job: a stream belongs to one decoding.
        OperationHost host;
        const Mp3ImportResult r = DecodeMp3File(mp3Name, *MakeMpg123Decoder(), host, doc);
        if (r.status == Mp3ImportStatus::CannotOpenInput) return InputFileCause(mp3Name);
        return r.message;
    };
    codecs.encode = [settings](const AudioDocument& doc, const std::string& mp3Name) -> std::string {
        OperationHost host;
        const Mp3ExportResult r =
            SaveAsMP3File(mp3Name, doc, settings.outputRate, settings.bitRate, host, *MakeLameEncoder());
        if (r.status == Mp3ExportStatus::Ok) return std::string();
        const std::string cause = SaveErrorText(r.error);
        const std::string text = r.message.empty() ? std::string("Konnte Datei nicht speichern") : r.message;
        return cause.empty() ? text : text + " " + cause;
    };
    return codecs;
}

}  // namespace notavox::cli
