// The decoder behind the codec stream component: one decoding stream with
// the steps the component and the MP3 import need, each answering with the
// manager's result codes. The program decodes with libmpg123
// (codecs/Mpg123Decoder.cpp); tests use tests/support/FakeDecoder.h.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/ByteOrder.h"

namespace notavox {

using MMRESULT = uint32_t;

// Result codes of the manager.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
constexpr MMRESULT ACMERR_BUSY = 513;
constexpr MMRESULT ACMERR_UNPREPARED = 514;

// Flags of a conversion call: the first and the last piece of a stream.
constexpr uint32_t ACM_STREAMCONVERTF_START = 0x10u;
constexpr uint32_t ACM_STREAMCONVERTF_END = 0x20u;

constexpr uint16_t WAVE_FORMAT_PCM = 0x0001;
constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x0055;

// A format area: 129 bytes, a WAVEFORMATEX at its start (for MP3 with the
// MPEG Layer-3 extra bytes), zero-padded.
constexpr size_t kFormatAreaSize = 129;
using FormatArea = std::array<uint8_t, kFormatAreaSize>;

// Field access by offset.
namespace wfx {
constexpr size_t kTag = 0, kChannels = 2, kSamplesPerSec = 4, kAvgBytesPerSec = 8, kBlockAlign = 12,
                 kBitsPerSample = 14, kExtraSize = 16;
constexpr size_t kMp3Id = 18, kMp3Flags = 20, kMp3BlockSize = 24, kMp3FramesPerBlock = 26, kMp3CodecDelay = 28;
constexpr size_t kMp3ExtraBytes = 12;  // size of the MPEG Layer-3 extra bytes

inline uint16_t get16(const FormatArea& a, size_t off) { return GetLE16(a.data() + off); }
inline uint32_t get32(const FormatArea& a, size_t off) { return GetLE32(a.data() + off); }
inline void set16(FormatArea& a, size_t off, uint16_t v) { PutLE16(a.data() + off, v); }
inline void set32(FormatArea& a, size_t off, uint32_t v) { PutLE32(a.data() + off, v); }
inline uint16_t tag(const FormatArea& a) { return get16(a, kTag); }
inline uint16_t channels(const FormatArea& a) { return get16(a, kChannels); }
inline uint32_t samplesPerSec(const FormatArea& a) { return get32(a, kSamplesPerSec); }
inline uint32_t avgBytesPerSec(const FormatArea& a) { return get32(a, kAvgBytesPerSec); }
inline uint16_t blockAlign(const FormatArea& a) { return get16(a, kBlockAlign); }
inline uint16_t bitsPerSample(const FormatArea& a) { return get16(a, kBitsPerSample); }
inline uint16_t extraSize(const FormatArea& a) { return get16(a, kExtraSize); }
}  // namespace wfx

// A PCM format: avgBytesPerSec and blockAlign follow from the other fields.
inline FormatArea MakePcmFormat(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t extraSize) {
    FormatArea a{};
    wfx::set16(a, wfx::kTag, WAVE_FORMAT_PCM);
    wfx::set16(a, wfx::kChannels, channels);
    wfx::set32(a, wfx::kSamplesPerSec, rate);
    wfx::set32(a, wfx::kAvgBytesPerSec, rate * channels * bits / 8u);
    wfx::set16(a, wfx::kBlockAlign, uint16_t(channels * bits / 8u));
    wfx::set16(a, wfx::kBitsPerSample, bits);
    wfx::set16(a, wfx::kExtraSize, extraSize);
    return a;
}

// An MPEG Layer-3 format of a constant bit rate, with its extra bytes.
inline FormatArea MakeMp3Format(uint32_t rate, uint16_t channels, uint32_t kbits) {
    FormatArea a{};
    wfx::set16(a, wfx::kTag, WAVE_FORMAT_MPEGLAYER3);
    wfx::set16(a, wfx::kChannels, channels);
    wfx::set32(a, wfx::kSamplesPerSec, rate);
    wfx::set32(a, wfx::kAvgBytesPerSec, kbits * 1000u / 8u);
    wfx::set16(a, wfx::kBlockAlign, 1);
    wfx::set16(a, wfx::kExtraSize, uint16_t(wfx::kMp3ExtraBytes));
    wfx::set16(a, wfx::kMp3Id, 1);     // MPEG
    wfx::set32(a, wfx::kMp3Flags, 2);  // padding off
    wfx::set16(a, wfx::kMp3BlockSize, uint16_t((rate >= 32000 ? 144u : 72u) * kbits * 1000u / rate));
    wfx::set16(a, wfx::kMp3FramesPerBlock, 1);
    wfx::set16(a, wfx::kMp3CodecDelay, 1393);
    return a;
}

// The buffers of one conversion call: the source bytes offered and the room
// for the PCM, and what the call used and produced.
struct StreamHeader {
    uint8_t* pbSrc = nullptr;
    uint32_t cbSrcLength = 0;
    uint32_t cbSrcLengthUsed = 0;
    uint8_t* pbDst = nullptr;
    uint32_t cbDstLength = 0;
    uint32_t cbDstLengthUsed = 0;
};

class Decoder {
public:
    virtual ~Decoder() = default;

    // The formats the decoder offers, in its order; empty when it has none.
    virtual std::vector<FormatArea> formats() = 0;

    // Opens the stream from `source` to `destination`; `realTime` asks for a
    // stream that keeps pace with playback.
    virtual MMRESULT open(const FormatArea& source, const FormatArea& destination, bool realTime) = 0;
    // The destination size that `sourceBytes` source bytes need.
    virtual MMRESULT size(uint32_t sourceBytes, uint32_t& destinationBytes) = 0;
    // Converts header.cbSrcLength bytes at pbSrc into pbDst and reports the
    // bytes used and produced in the header.
    virtual MMRESULT convert(StreamHeader& header, uint32_t flags) = 0;
    // Forgets what was fed so far; the next conversion starts a new stream.
    virtual MMRESULT reset() = 0;
    virtual MMRESULT close() = 0;
};

// A decoder of every MPEG-1, MPEG-2 and MPEG-2.5 Layer III format (all sample
// rates, mono and stereo, the standard bit rates) to 16-bit PCM of the same
// rate and channel count, through libmpg123.
std::unique_ptr<Decoder> MakeMpg123Decoder();

}  // namespace notavox
