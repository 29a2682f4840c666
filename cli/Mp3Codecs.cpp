#include "cli/Mp3Codecs.h"

#include <memory>

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
    // The formats are found once, as at the program's start, and only read
    // by the jobs afterwards.
    auto formats = std::make_shared<Mp3FormatList>();
    OperationHost quiet;
    EnumerateMP3Formats(*MakeMpg123Decoder(), *formats, quiet);

    Mp3Codecs codecs;
    codecs.decodeToWav = [formats](const std::string& mp3Name, const std::string& wavName) {
        // One decoder per job: a stream belongs to one decoding.
        const std::unique_ptr<Decoder> decoder = MakeMpg123Decoder();
        TACMConvertor mp3wav(*decoder);
        LoadStoredMp3wavProperties(mp3wav);
        OperationHost host;
        const Mp3ImportResult r = ConvertMP3WAV(mp3Name, wavName, *formats, mp3wav, host);
        if (r.status == Mp3ImportStatus::CannotOpenInput) return InputFileCause(mp3Name);
        return r.message;
    };
    codecs.encode = [settings](const AudioDocument& doc, const std::string& mp3Name) -> std::string {
        OperationHost host;
        try {
            const Mp3ExportResult r =
                SaveAsMP3File(mp3Name, doc, settings.outputRate, settings.bitRate, host, *MakeLameEncoder());
            if (r.status == Mp3ExportStatus::Ok) return std::string();
            const std::string cause = SaveErrorText(r.error);
            const std::string text = r.message.empty() ? std::string("Konnte Datei nicht speichern") : r.message;
            return cause.empty() ? text : text + " " + cause;
        } catch (const EMp3Encoding& e) {
            return e.what();
        }
    };
    return codecs;
}

}  // namespace notavox::cli
