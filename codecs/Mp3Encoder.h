// The MP3 encoder: 16-bit PCM in, MP3 frames out. The program encodes with
// libmp3lame (MakeLameEncoder); tests use tests/support/FakeEncoder.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace notavox {

// Every stream is constant-bitrate, plain stereo or mono, at the library's
// high-quality preset, with the copyright and original bits set, no CRC and
// no VBR header.
struct Mp3EncoderSettings {
    int32_t inputRate = 0;
    bool stereo = false;
    int32_t outputRate = 0;  // the encoder resamples to it
    int32_t bitRate = 0;     // kbit/s
};

class Mp3Encoder {
public:
    virtual ~Mp3Encoder() = default;
    // Starts a stream, dropping one that was not flushed; false when the
    // encoder cannot make it.
    virtual bool open(const Mp3EncoderSettings& settings) = 0;
    // Encodes `count` values (interleaved left, right for stereo), at most
    // 2500 at a time, and appends the bytes that come out to `out`.
    virtual bool encode(const int16_t* values, size_t count, std::vector<uint8_t>& out) = 0;
    // Appends what the stream still holds to `out` and ends the stream.
    virtual bool flush(std::vector<uint8_t>& out) = 0;
};

// One stream at a time.
std::unique_ptr<Mp3Encoder> MakeLameEncoder();

}  // namespace notavox
