// MP3 export: the whole recording through the encoder into an MP3 file, with
// the output rate and bit rate of the "MP3 Ausgabe" lists.
#pragma once

#include <cstdint>
#include <string>

#include "audio/AudioDocument.h"
#include "audio/OperationHost.h"
#include "codecs/Mp3Encoder.h"
#include "codecs/Mp3Frame.h"

namespace notavox {

// The entries of the "MP3 Ausgabe" lists and their start-up choices.
inline constexpr int32_t kMp3OutputRates[] = {48000, 44100, 32000, 24000, 22050, 16000, 11025};
inline constexpr const auto& kMp3BitRates = kMpeg2LayerIIIBitRates;
inline constexpr int32_t kDefaultMp3OutputRate = 44100;
inline constexpr int32_t kDefaultMp3BitRate = 128;

// The messages of the three refusals are shown without an icon, that of a
// failure in mid-stream as an error.
enum class Mp3ExportStatus {
    Ok,
    CannotCreate,
    CannotInitEncoder,
    BitRateNotAllowed,  // the message names the bit rates the output rate allows
    EncodingFailed,     // the encoder failed in mid-stream
    Cancelled,          // the host asked to stop; no message
};

struct Mp3ExportResult {
    Mp3ExportStatus status = Mp3ExportStatus::Ok;
    std::string message;  // empty for Ok and Cancelled
    int error = 0;        // for CannotCreate: the errno (see SaveErrorText)
};

// Encodes the whole recording into `path` in chunks of 5000 bytes. A bit
// rate the output rate does not allow is refused, never changed silently.
// The destination is replaced only by a complete file.
Mp3ExportResult SaveAsMP3File(const std::string& path, const AudioDocument& doc, int32_t outputRate,
                              int32_t bitRate, OperationHost& host, Mp3Encoder& encoder);

}  // namespace notavox
