// Loading a recording the way the open command does it: a WAV file through
// the WAV reader, an MP3 file (by its extension, in any case) through its
// decoder. The window and the converter both load through here.
#pragma once

#include <functional>
#include <string>

#include "audio/AudioDocument.h"

namespace notavox {

// The extension of the file name (after its last '/'), with its dot, in
// upper case; empty when there is none.
std::string UpperExtension(const std::string& fileName);
// The file's name after its last '/' without its extension: "stück" for
// "aufnahmen/stück.wav"; a name whose only dot is its first keeps it.
std::string NameWithoutExtension(const std::string& fileName);
bool IsMp3Name(const std::string& fileName);

// Decodes an MP3 file into `doc`. Returns the decoder's message when that
// failed (`doc` is then unchanged), else an empty string.
using Mp3Reader = std::function<std::string(const std::string& mp3Name, AudioDocument& doc)>;

// Reads `fileName` into `doc` (selection at 0). False when it cannot be
// opened or, for an MP3 file, when there is no decoder; `doc` is then
// unchanged and `cause` (optional) says why, in German ("keine WAV-Datei",
// the decoder's message, ...).
// `rateRefused` (optional) tells a file refused for its sample rate, a
// refusal the window names beside its fixed open message.
bool LoadRecording(const std::string& fileName, AudioDocument& doc, const Mp3Reader& readMp3,
                   std::string* cause = nullptr, bool* rateRefused = nullptr);

}  // namespace notavox
