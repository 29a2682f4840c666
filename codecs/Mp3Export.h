// MP3 export: the whole recording through the encoder into an MP3 file, with
// the output rate and bit rate of the "MP3 Ausgabe" lists.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "audio/AudioDocument.h"
#include "audio/OperationHost.h"
#include "codecs/Mp3Encoder.h"
#include "codecs/Mp3Frame.h"

namespace notavox {

// Message boxes of the export (OK button only, no icon).
inline constexpr const char* kMsgCannotCreateMp3 = "Konnte Datei nicht erstellen...";
inline constexpr const char* kMsgCannotInitEncoder = "Konnte LAME Encoder nicht initialisieren...";
// Texts of the two exceptions that end an encoding in mid-stream.
inline constexpr const char* kMsgEncodeFailed = "Fehler beim MP3 Codieren";
inline constexpr const char* kMsgFlushFailed = "Echec à la sortie";

class EMp3Encoding : public std::runtime_error {
public:
    explicit EMp3Encoding(const char* message) : std::runtime_error(message) {}
};

enum class Mp3ExportStatus {
    Ok,
    CannotCreate,       // kMsgCannotCreateMp3
    CannotInitEncoder,  // kMsgCannotInitEncoder
    BitRateNotAllowed,  // Mp3BitRateMessage()
    Cancelled,          // the host asked to stop; no message
};

// Whether an MP3 stream of `outputRate` can have `bitRate` (MPEG-1 from
// 32000 Hz, MPEG-2 from 16000 Hz, MPEG-2.5 below), and the message that
// names the bit rates it can have: "Bei 48000 Hz sind nur diese Bitraten
// möglich: 32, 40, ... kBit/s."
bool Mp3BitRateAllowed(int32_t outputRate, int32_t bitRate);
std::string Mp3BitRateMessage(int32_t outputRate);

struct Mp3ExportResult {
    Mp3ExportStatus status = Mp3ExportStatus::Ok;
    std::string message;  // empty for Ok
    int error = 0;        // for CannotCreate: the errno (see SaveErrorText)
};

// Encodes the whole recording into `path` in chunks of 5000 bytes. A bit
// rate the output rate does not allow is refused, never changed silently.
// The destination is replaced only by a complete file: a failure, a stop or
// the EMp3Encoding thrown when a chunk or the final flush fails leave it as
// it was.
Mp3ExportResult SaveAsMP3File(const std::string& path, const AudioDocument& doc, int32_t outputRate,
                              int32_t bitRate, OperationHost& host, Mp3Encoder& encoder);

}  // namespace notavox
