// The MP3 codecs of the command-line converter: the program's MP3 import and
// its MP3 export with the values of the "MP3 Ausgabe" lists.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "cli/ConvertJob.h"
#include "codecs/Mp3Export.h"

namespace notavox::cli {

struct Mp3Settings {
    int32_t outputRate = kDefaultMp3OutputRate;  // "Samplefrequenz:"
    int32_t bitRate = kDefaultMp3BitRate;        // "Bitrate:" in kbit/s
};

// Parses a value of one of the lists; false when it is not an entry.
bool ParseMp3OutputRate(const std::string& text, int32_t& rate);
bool ParseMp3BitRate(const std::string& text, int32_t& bitRate);
// "48000, 44100, ..." and "8, 16, ...": the entries of the lists.
std::string AllowedMp3OutputRates();
std::string AllowedMp3BitRates();

// Why an input that the MP3 import could not open was refused, in German:
// missing, no permission, not a regular file, or no MP3 data in it.
std::string InputFileCause(const std::string& fileName);

// The codecs for ConvertFile; a failed decoding or encoding returns its
// message. Safe to use from several jobs at once.
Mp3Codecs MakeMp3Codecs(const Mp3Settings& settings);

}  // namespace notavox::cli
