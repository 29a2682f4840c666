// MP3 import: the analysis of an MP3 file (leading zeros, an ID3v2 tag, a
// RIFF-wrapped stream, the first frame header) and the chunked decoding of
// its frames straight into a recording of 16-bit PCM.
#pragma once

#include <cstdint>
#include <string>

#include "audio/AudioDocument.h"
#include "audio/OperationHost.h"
#include "audio/SafeFile.h"
#include "codecs/Mp3Decoder.h"

namespace notavox {

// The texts of the import's failures (message boxes with the error icon).
inline constexpr const char* kMsgNoMp3Codec = "Es ist kein Codec installiert, der eine MP3-Decodierung ermöglicht!";
inline constexpr const char* kMsgCannotOpenMp3 = "Konnte Datei nicht öffnen!";
inline constexpr const char* kMsgMp3TooLong = "Die decodierte Aufnahme ist zu lang.";

// What the analysis of an MP3 file found.
struct Mp3StreamInfo {
    bool found = false;      // a stream of consecutive frames was found
    bool riffWrapped = false;
    int64_t dataStart = 0;   // first byte offered to the decoder
    int64_t dataEnd = 0;     // one past the last byte offered
    int channels = 0;
    int32_t sampleRate = 0;
    int32_t bitRate = 0;     // kbit/s
};

// Analyses an open MP3 file. A stream is taken only where several
// consecutive frames agree (or a short one fills the file to its end); it
// ends where the frames lose their sync for good, so trailing bytes that are
// no frames are not offered to the decoder.
Mp3StreamInfo AnalyseMp3Stream(const InputFile& file);

enum class Mp3ImportStatus {
    Ok,               // `doc` holds the recording (after STOP: what was decoded)
    NoCodec,          // kMsgNoMp3Codec: the decoder cannot decode the stream
    CannotOpenInput,  // kMsgCannotOpenMp3: unreadable, or no MP3 stream in it
    TooLong,          // kMsgMp3TooLong: the PCM does not fit into a recording
};

struct Mp3ImportResult {
    Mp3ImportStatus status = Mp3ImportStatus::Ok;
    std::string message;   // the text to show; empty for Ok
    bool stopped = false;  // STOP ended the decoding early
};

// Decodes `path` into `doc` in chunks of 1024 bytes. Clears the stop flag on
// entry and polls it once per chunk; shows progress and pumps the message
// queue after every chunk. `doc` is replaced only when the status is Ok.
Mp3ImportResult DecodeMp3File(const std::string& path, Mp3Decoder& decoder, OperationHost& host,
                              AudioDocument& doc);

}  // namespace notavox
