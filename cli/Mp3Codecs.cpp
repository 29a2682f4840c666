#include "cli/Mp3Codecs.h"

#include <memory>

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

bool ParseMp3OutputRate(const std::string& text, int32_t& rate) { return parseEntry(text, kMp3OutputRates, rate); }
bool ParseMp3BitRate(const std::string& text, int32_t& bitRate) { return parseEntry(text, kMp3BitRates, bitRate); }
std::string AllowedMp3OutputRates() { return joined(kMp3OutputRates); }
std::string AllowedMp3BitRates() { return joined(kMp3BitRates); }

Mp3Codecs MakeMp3Codecs(const Mp3Settings& settings,
                        std::function<void(const std::string&, const std::string&)> report) {
    // The formats are found once, as at the program's start, and only read
    // by the jobs afterwards.
    auto formats = std::make_shared<Mp3FormatList>();
    OperationHost quiet;
    EnumerateMP3Formats(*MakeMpg123Decoder(), *formats, quiet);

    Mp3Codecs codecs;
    codecs.decodeToWav = [formats, report](const std::string& mp3Name, const std::string& wavName) {
        // One decoder per job: a stream belongs to one decoding.
        const std::unique_ptr<Decoder> decoder = MakeMpg123Decoder();
        TACMConvertor mp3wav(*decoder);
        LoadStoredMp3wavProperties(mp3wav);
        OperationHost host;
        const Mp3ImportResult r = ConvertMP3WAV(mp3Name, wavName, *formats, mp3wav, host);
        if (!r.message.empty() && report) report(mp3Name, r.message);
    };
    codecs.encode = [settings, report](const AudioDocument& doc, const std::string& mp3Name) {
        OperationHost host;
        try {
            const Mp3ExportResult r =
                SaveAsMP3File(mp3Name, doc, settings.outputRate, settings.bitRate, host, *MakeLameEncoder());
            if (r.status == Mp3ExportStatus::Ok) return true;
            if (report) report(mp3Name, r.message);
        } catch (const EMp3Encoding& e) {
            if (report) report(mp3Name, e.what());
        }
        return false;
    };
    return codecs;
}

}  // namespace notavox::cli
