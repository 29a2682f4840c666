// Loading a recording the way the open command does it: a WAV file directly,
// an MP3 file (by its extension, in any case) through its decoder into a
// temporary WAV file that is read and removed. The window and the converter
// both load through here.
#pragma once

#include <functional>
#include <string>

#include "audio/AudioDocument.h"

namespace notavox {

// The extension of the file name (after its last '/'), with its dot, in
// upper case; empty when there is none.
std::string UpperExtension(const std::string& fileName);
bool IsMp3Name(const std::string& fileName);

// Decodes an MP3 file into a PCM WAV file of the given name. Returns the
// decoder's message when that failed, else an empty string.
using Mp3ToWav = std::function<std::string(const std::string& mp3Name, const std::string& wavName)>;

// Reads `fileName` into `doc` (selection at 0). False when it cannot be
// opened or, for an MP3 file, when there is no decoder; `doc` is then
// unchanged and `cause` (optional) says why, in German ("keine WAV-Datei",
// the decoder's message, ...).
// `rateRefused` (optional) tells a file refused for its sample rate, a
// refusal the window names beside its fixed open message.
bool LoadRecording(const std::string& fileName, AudioDocument& doc, const Mp3ToWav& decodeToWav,
                   std::string* cause = nullptr, bool* rateRefused = nullptr);

}  // namespace notavox
