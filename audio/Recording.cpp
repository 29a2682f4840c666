#include "audio/Recording.h"

#include <cctype>

#include "audio/WavFile.h"

namespace notavox {

std::string UpperExtension(const std::string& name) {
    const size_t slash = name.rfind('/');
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
    std::string ext = name.substr(dot);
    for (char& c : ext) c = char(std::toupper(static_cast<unsigned char>(c)));
    return ext;
}

std::string NameWithoutExtension(const std::string& fileName) {
    const size_t slash = fileName.rfind('/');
    std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

bool IsMp3Name(const std::string& fileName) { return UpperExtension(fileName) == ".MP3"; }

bool LoadRecording(const std::string& fileName, AudioDocument& doc, const Mp3Reader& readMp3,
                   std::string* cause, bool* rateRefused) {
    if (rateRefused) *rateRefused = false;
    if (IsMp3Name(fileName)) {
        if (!readMp3) {
            if (cause) *cause = "MP3-Eingabe ist nicht verfügbar";
            return false;
        }
        AudioDocument decoded;
        const std::string message = readMp3(fileName, decoded);
        if (!message.empty()) {
            if (cause) *cause = message;
            return false;
        }
        doc.replace(std::move(decoded.sampleData), decoded.byteCount, decoded.sampleRate, decoded.stereo,
                    decoded.sixteenBit);
        return true;
    }
    WavData wav;
    WavReadFailure why;
    if (!ReadWAVFile(fileName, wav, &why)) {
        if (cause) *cause = WavReadErrorText(why);
        if (rateRefused) *rateRefused = why.error == WavReadError::UnsupportedRate;
        return false;
    }
    doc.replace(std::move(wav.block), wav.byteCount, wav.sampleRate, wav.stereo, wav.sixteenBit);
    return true;
}

}  // namespace notavox
