// RIFF WAVE reading and writing (PCM, 1 or 2 channels, 8 or 16 bits) and
// free names for temporary files.
#pragma once

#include <cstdint>
#include <string>

#include "audio/AudioDocument.h"

namespace notavox {

struct WavData {
    SampleBlock block;
    int32_t byteCount = 0;
    int32_t sampleRate = 0;
    bool sixteenBit = false;
    bool stereo = false;
};

// Why a WAV file could not be read.
enum class WavReadError {
    None,
    CannotOpen,    // missing, no permission (errno in WavReadFailure)
    NotRegular,    // a folder, pipe, device or socket: never waited on
    NotWav,        // no RIFF WAVE, no fmt or no data chunk
    Unsupported,   // not 8/16-bit PCM with 1 or 2 channels
    UnsupportedRate, // a sample rate outside kLowestSampleRate..kHighestSampleRate
    Empty,         // the data chunk holds nothing
    Truncated,     // shorter than its data chunk says
    TooLarge,      // more than 2147483647 bytes of samples
    OutOfMemory,   // the block could not be allocated
};

struct WavReadFailure {
    WavReadError error = WavReadError::None;
    int systemError = 0;    // errno for CannotOpen
    uint16_t formatTag = 0; // for Unsupported
    uint16_t channels = 0;
    uint16_t bits = 0;
    uint32_t sampleRate = 0; // for UnsupportedRate
};

class InputFile;

// A chunk of a RIFF file: its identifier, its size and where its contents
// start.
struct RiffChunk {
    uint32_t id = 0;
    uint32_t size = 0;
    uint64_t dataOffset = 0;
};

constexpr uint32_t FourCC(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

// Walks the chunks from `pos` up to `end`, each with its pad byte, to the
// first with the identifier `id` and, for a RIFF chunk, the form type `form`
// (0: any).
bool FindRiffChunk(const InputFile& file, uint64_t pos, uint64_t end, uint32_t id, uint32_t form, RiffChunk& found);

// Reads a WAV file. On failure returns false and `out` holds nothing. Only
// regular files are read; anything else is refused at once without waiting.
bool ReadWAVFile(const std::string& fileName, WavData& out, WavReadFailure* why = nullptr);

// The German cause of a failed read ("nicht unterstütztes Format: 24 Bit",
// "die Datei ist abgeschnitten", ...).
std::string WavReadErrorText(const WavReadFailure& why);

// Writes the 44-byte header, the samples and a pad byte for an odd count.
// The destination is replaced only when the whole file was written.
// `error` (optional) receives the errno of a failure, see SafeFile.
bool WriteWAVFile(const std::string& fileName, const uint8_t* sampleData, bool stereo, bool sixteenBit,
                  int32_t sampleRate, int32_t byteCount, int* error = nullptr);

// The 44-byte header that WriteWAVFile writes.
void MakeWAVHeader(uint8_t header[44], bool stereo, bool sixteenBit, int32_t sampleRate, int32_t byteCount);

// The folder for temporary files, always ending in '/': $TMPDIR when set and
// not empty, else /tmp.
std::string TempFolder();

// Returns "<temp folder><prefix><n><extension>" for the first counter n from 0
// whose name is free. The file is created empty and exclusively, so no other
// process can put a file or link of its own under that name. Empty string when
// no name could be created.
std::string MakeTempFileName(const std::string& prefix, const std::string& extension);

}  // namespace notavox
