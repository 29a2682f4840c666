// MP3 import: the start-up discovery of the MPEG Layer-3 formats that the
// decoder offers, the analysis of an MP3 file (leading zeros, an
// ID3v2 tag, a RIFF-wrapped stream, the first frame header) and the chunked
// decoding through the codec stream component into a 16-bit PCM WAV file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/OperationHost.h"
#include "audio/SafeFile.h"
#include "codecs/ACMConvertor.h"

namespace notavox {

// The texts of the import's failures (message boxes with the error icon).
inline constexpr const char* kMsgNoMp3Codec = "Es ist kein Codec installiert, der eine MP3-Decodierung ermöglicht!";
inline constexpr const char* kMsgCannotOpenMp3 = "Konnte Datei nicht öffnen!";
inline constexpr const char* kMsgCannotCreateWav = "Konnte Ausgabedatei nicht erstellen!";

// mp3Formats: one 129-byte record per MPEG Layer-3 format offered at start,
// in enumeration order.
using Mp3FormatList = std::vector<FormatArea>;

// Appends an offered format with the MPEG Layer-3 tag; others are ignored.
// Returns true (go on).
bool ACMEnumFmtMethod(const FormatArea& format, Mp3FormatList& formats);
// The discovery run once while the main window is created: every format of
// the decoder through ACMEnumFmtMethod, then one turn of the message queue.
void EnumerateMP3Formats(Decoder& decoder, Mp3FormatList& formats, OperationHost& host);

// What the analysis of an MP3 file found.
struct Mp3StreamInfo {
    bool riffWrapped = false;
    uint8_t header[4] = {};  // the frame header taken (plain streams)
    int64_t dataStart = 0;   // first byte offered to the decoder
    int64_t dataEnd = 0;     // one past the last byte offered
    int channels = 0;
    int32_t sampleRate = 0;
    int32_t bitRate = 0;     // kbit/s
};

// Analyses an open MP3 file.
Mp3StreamInfo AnalyseMp3Stream(const InputFile& file);

// The source and destination format areas for a stream: the destination
// becomes 16-bit PCM of the stream's rate and channels; the source gets the
// stream's rate, channels and bit rate and is then replaced by the last
// record of `formats` that matches it.
void ChooseMp3Formats(const Mp3StreamInfo& info, const Mp3FormatList& formats, FormatArea& source,
                      FormatArea& destination);

enum class Mp3ImportStatus {
    Ok,                  // the WAV file is complete (also after STOP: then it holds what was decoded)
    NoCodec,             // kMsgNoMp3Codec; nothing was opened or written
    CannotOpenInput,     // kMsgCannotOpenMp3
    CannotCreateOutput,  // kMsgCannotCreateWav; also when writing the WAV file failed
    ComponentError,      // an EACMConvertor ended the decoding; `message` holds its text
};

struct Mp3ImportResult {
    Mp3ImportStatus status = Mp3ImportStatus::Ok;
    std::string message;  // the text to show; empty for Ok
    bool stopped = false; // STOP ended the decoding early
};

// Decodes `mp3Path` into a 16-bit PCM WAV file at `wavPath` through the
// component `mp3wav`. Clears the stop flag on entry and polls it once per
// chunk; pumps the message queue after every chunk; shows progress. After a
// component error no file is left at `wavPath`. A call made while `mp3wav`
// is still decoding (from a handler run by the message pump) is refused as
// a component error: "acmStreamOpen: The conversion stream is already in use.".
Mp3ImportResult ConvertMP3WAV(const std::string& mp3Path, const std::string& wavPath,
                              const Mp3FormatList& formats, TACMConvertor& mp3wav, OperationHost& host);

// The values stored for the main window's `mp3wav` in its form data, in the
// binary-property form (length 129, then the bytes), and its buffer size.
std::vector<uint8_t> StoredACMFormatIn();
std::vector<uint8_t> StoredACMFormatOut();
inline constexpr uint32_t kStoredInputBufferSize = 2048;
// Loads the stored values into `mp3wav` as the window's loading does.
void LoadStoredMp3wavProperties(TACMConvertor& mp3wav);

}  // namespace notavox
