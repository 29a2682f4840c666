// The four-call MP3 encoder stream and its 332-byte configuration record.
// The program's stream runs on libmp3lame (codecs/Mp3Lame.cpp) and applies
// every setting of the record; tests use tests/support/FakeEncoder.h.
#pragma once

#include <cstdint>
#include <memory>

namespace notavox {

using BE_ERR = uint32_t;
using HBE_STREAM = uintptr_t;

constexpr BE_ERR BE_ERR_SUCCESSFUL = 0;
constexpr BE_ERR BE_ERR_INVALID_FORMAT = 1;
constexpr BE_ERR BE_ERR_INVALID_FORMAT_PARAMETERS = 2;
constexpr BE_ERR BE_ERR_NO_MORE_HANDLES = 3;
constexpr BE_ERR BE_ERR_INVALID_HANDLE = 4;
constexpr BE_ERR BE_ERR_BUFFER_TOO_SMALL = 5;

constexpr uint32_t BE_CONFIG_LAME = 256;
constexpr int32_t BE_MP3_MODE_STEREO = 0;
constexpr int32_t BE_MP3_MODE_JSTEREO = 1;
constexpr int32_t BE_MP3_MODE_DUALCHANNEL = 2;
constexpr int32_t BE_MP3_MODE_MONO = 3;
constexpr int32_t LQP_HIGH_QUALITY = 2;
constexpr uint32_t MPEG1 = 1;

// The configuration record in its LAME form, all fields 32-bit little-endian.
struct BE_CONFIG {
    uint32_t dwConfig;        //   0: BE_CONFIG_LAME
    uint32_t dwStructVersion; //   4
    uint32_t dwStructSize;    //   8: 332
    uint32_t dwSampleRate;    //  12: input rate
    uint32_t dwReSampleRate;  //  16: output rate
    int32_t nMode;            //  20: BE_MP3_MODE_*
    uint32_t dwBitrate;       //  24: kbit/s
    uint32_t dwMaxBitrate;    //  28: kbit/s
    int32_t nPreset;          //  32: quality preset
    uint32_t dwMpegVersion;   //  36
    uint32_t dwPsyModel;      //  40
    uint32_t dwEmphasis;      //  44
    int32_t bPrivate;         //  48
    int32_t bCRC;             //  52
    int32_t bCopyright;       //  56
    int32_t bOriginal;        //  60
    int32_t bWriteVBRHeader;  //  64
    int32_t bEnableVBR;       //  68
    int32_t nVBRQuality;      //  72
    uint8_t reserved[256];    //  76 .. 331
};
static_assert(sizeof(BE_CONFIG) == 332, "the configuration record is 332 bytes");

class Mp3EncoderStream {
public:
    virtual ~Mp3EncoderStream() = default;
    // Opens a stream; reports the suggested sample values per chunk and an
    // output buffer size that holds the output of one chunk of up to 2500
    // sample values and of the final flush.
    virtual BE_ERR beInitStream(const BE_CONFIG& config, uint32_t& samples, uint32_t& bufferSize,
                                HBE_STREAM& stream) = 0;
    // Encodes `count` 16-bit values (interleaved left, right for stereo).
    virtual BE_ERR beEncodeChunk(HBE_STREAM stream, uint32_t count, const int16_t* samples, uint8_t* output,
                                 uint32_t& outputBytes) = 0;
    virtual BE_ERR beDeinitStream(HBE_STREAM stream, uint8_t* output, uint32_t& outputBytes) = 0;
    virtual BE_ERR beCloseStream(HBE_STREAM stream) = 0;
};

// A new encoder on libmp3lame; it holds one stream at a time.
std::unique_ptr<Mp3EncoderStream> MakeLameEncoder();

}  // namespace notavox
