// The MP3 decoder: one stream of MPEG audio frames in, 16-bit PCM out. The
// program decodes with libmpg123 (MakeMpg123Decoder); tests use
// tests/support/FakeDecoder.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace notavox {

class Mp3Decoder {
public:
    virtual ~Mp3Decoder() = default;
    // Starts a new stream that gives `channels` (1 or 2) interleaved 16-bit
    // values at `sampleRate`. False when the decoder cannot give that.
    virtual bool open(int channels, int32_t sampleRate) = 0;
    // Decodes `size` more bytes of the stream and appends the PCM they
    // complete to `pcm`. Data it cannot decode is passed over.
    virtual void decode(const uint8_t* data, size_t size, std::vector<uint8_t>& pcm) = 0;
};

// Every MPEG audio stream at any of its sample rates, mono or stereo.
std::unique_ptr<Mp3Decoder> MakeMpg123Decoder();

}  // namespace notavox
