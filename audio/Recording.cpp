#include "audio/Recording.h"

#include <cctype>
#include <cstdio>

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

bool LoadRecording(const std::string& fileName, AudioDocument& doc, const Mp3ToWav& decodeToWav) {
    WavData wav;
    bool ok;
    if (IsMp3Name(fileName)) {
        if (!decodeToWav) return false;
        // The decoder is asked even without a temporary name: it says why it
        // cannot write one.
        const std::string temp = MakeTempFileName("tempwav", ".wav");
        decodeToWav(fileName, temp);
        ok = !temp.empty() && ReadWAVFile(temp, wav);
        if (!temp.empty()) std::remove(temp.c_str());
    } else {
        ok = ReadWAVFile(fileName, wav);
    }
    if (!ok) return false;
    doc.replace(std::move(wav.block), wav.byteCount, wav.sampleRate, wav.stereo, wav.sixteenBit);
    return true;
}

}  // namespace notavox
