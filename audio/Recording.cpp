#include "audio/Recording.h"

#include <cctype>
#include <cstdio>

#include "audio/Interrupt.h"
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

bool IsMp3Name(const std::string& fileName) { return UpperExtension(fileName) == ".MP3"; }

bool LoadRecording(const std::string& fileName, AudioDocument& doc, const Mp3ToWav& decodeToWav,
                   std::string* cause, bool* rateRefused) {
    WavData wav;
    WavReadFailure why;
    bool ok;
    if (IsMp3Name(fileName)) {
        if (!decodeToWav) {
            if (cause) *cause = "MP3-Eingabe ist nicht verfügbar";
            return false;
        }
        const std::string temp = MakeTempFileName("tempwav", ".wav");
        if (temp.empty()) {
            if (cause) *cause = "Konnte die temporäre Datei nicht erstellen";
            return false;
        }
        TempFileGuard tempGuard(temp);  // an interrupt during the import removes it
        const std::string decoderMessage = decodeToWav(fileName, temp);
        ok = decoderMessage.empty() && ReadWAVFile(temp, wav, &why);
        std::remove(temp.c_str());
        if (!ok && cause) *cause = decoderMessage.empty() ? WavReadErrorText(why) : decoderMessage;
    } else {
        ok = ReadWAVFile(fileName, wav, &why);
        if (!ok && cause) *cause = WavReadErrorText(why);
    }
    if (rateRefused) *rateRefused = !ok && why.error == WavReadError::UnsupportedRate;
    if (!ok) return false;
    doc.replace(std::move(wav.block), wav.byteCount, wav.sampleRate, wav.stereo, wav.sixteenBit);
    return true;
}

}  // namespace notavox
