// MP3 import: the stream of frames found in an MP3 file (after leading zeros
// and an ID3v2 tag, or inside a RIFF wrapper) decoded in chunks straight into
// a recording of 16-bit PCM.
#pragma once

#include <string>

#include "audio/AudioDocument.h"
#include "audio/OperationHost.h"
#include "codecs/Mp3Decoder.h"

namespace notavox {

enum class Mp3ImportStatus {
    Ok,               // `doc` holds the recording (after STOP: what was decoded)
    NoCodec,          // the decoder cannot decode the stream
    CannotOpenInput,  // unreadable, or no MP3 stream in it
    TooLong,          // the PCM does not fit into a recording
};

struct Mp3ImportResult {
    Mp3ImportStatus status = Mp3ImportStatus::Ok;
    std::string message;  // the text of the error message box; empty for Ok
};

// Decodes `path` into `doc` in chunks of 1024 bytes. A stream is taken only
// where several consecutive frames agree (or a short one fills the file), and
// ends where they lose their sync for good. Clears the stop flag on entry and
// polls it once per chunk; shows progress and pumps the message queue after
// every chunk. `doc` is replaced only when the status is Ok.
Mp3ImportResult DecodeMp3File(const std::string& path, Mp3Decoder& decoder, OperationHost& host,
                              AudioDocument& doc);

}  // namespace notavox
