// The data that passes between the codec stream component and the decoder
// driver behind it: result codes, flags, the 129-byte format area holding a
// WAVEFORMATEX (for MP3 an MPEG Layer-3 format with its extra bytes), the
// stream header and the format details of an enumeration.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace notavox {

static_assert(std::endian::native == std::endian::little, "the codec records are little-endian");

using MMRESULT = uint32_t;
using HACMSTREAM = uintptr_t;  // 0 is no stream
using HACMDRIVERID = uintptr_t;
using HACMDRIVER = uintptr_t;

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

// Flags.
constexpr uint32_t ACM_DRIVERENUMF_DISABLED = 0x80000000u;
constexpr uint32_t ACM_STREAMOPENF_NONREALTIME = 0x4u;
constexpr uint32_t ACM_STREAMSIZEF_SOURCE = 0x0u;
constexpr uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 0x4u;
constexpr uint32_t ACM_STREAMCONVERTF_START = 0x10u;
constexpr uint32_t ACM_STREAMCONVERTF_END = 0x20u;
constexpr uint32_t ACMSTREAMHEADER_STATUSF_DONE = 0x00010000u;
constexpr uint32_t ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000u;

constexpr uint16_t WAVE_FORMAT_PCM = 0x0001;
constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x0055;

// A format area: 129 bytes, a WAVEFORMATEX at its start, zero-padded.
constexpr size_t kFormatAreaSize = 129;
using FormatArea = std::array<uint8_t, kFormatAreaSize>;

// Field access by offset (WAVEFORMATEX, then the MPEG Layer-3 extra bytes).
namespace wfx {
constexpr size_t kTag = 0, kChannels = 2, kSamplesPerSec = 4, kAvgBytesPerSec = 8, kBlockAlign = 12,
                 kBitsPerSample = 14, kExtraSize = 16;
constexpr size_t kMp3Id = 18, kMp3Flags = 20, kMp3BlockSize = 24, kMp3FramesPerBlock = 26, kMp3CodecDelay = 28;
constexpr size_t kMp3ExtraBytes = 12;  // size of the MPEG Layer-3 extra bytes

inline uint16_t get16(const FormatArea& a, size_t off) { return uint16_t(a[off] | a[off + 1] << 8); }
inline uint32_t get32(const FormatArea& a, size_t off) {
    return uint32_t(a[off]) | uint32_t(a[off + 1]) << 8 | uint32_t(a[off + 2]) << 16 | uint32_t(a[off + 3]) << 24;
}
inline void set16(FormatArea& a, size_t off, uint16_t v) {
    a[off] = uint8_t(v);
    a[off + 1] = uint8_t(v >> 8);
}
inline void set32(FormatArea& a, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) a[off + size_t(i)] = uint8_t(v >> (8 * i));
}

inline uint16_t tag(const FormatArea& a) { return get16(a, kTag); }
inline uint16_t channels(const FormatArea& a) { return get16(a, kChannels); }
inline uint32_t samplesPerSec(const FormatArea& a) { return get32(a, kSamplesPerSec); }
inline uint32_t avgBytesPerSec(const FormatArea& a) { return get32(a, kAvgBytesPerSec); }
inline uint16_t blockAlign(const FormatArea& a) { return get16(a, kBlockAlign); }
inline uint16_t bitsPerSample(const FormatArea& a) { return get16(a, kBitsPerSample); }
inline uint16_t extraSize(const FormatArea& a) { return get16(a, kExtraSize); }
}  // namespace wfx

// The stream header that every conversion call reuses.
struct ACMSTREAMHEADER {
    uint32_t cbStruct = 0;
    uint32_t fdwStatus = 0;
    uintptr_t dwUser = 0;
    uint8_t* pbSrc = nullptr;
    uint32_t cbSrcLength = 0;
    uint32_t cbSrcLengthUsed = 0;
    uintptr_t dwSrcUser = 0;
    uint8_t* pbDst = nullptr;
    uint32_t cbDstLength = 0;
    uint32_t cbDstLengthUsed = 0;
    uintptr_t dwDstUser = 0;
    uintptr_t dwReservedDriver[10] = {};
};
// The structure size the manager expects in cbStruct.
constexpr uint32_t kAcmStreamHeaderSize = 84;

// One enumerated format of a driver.
struct ACMFORMATDETAILS {
    uint32_t cbStruct = 0;
    uint32_t dwFormatIndex = 0;
    uint32_t dwFormatTag = 0;
    uint32_t fdwSupport = 0;
    uint8_t* pwfx = nullptr;
    uint32_t cbwfx = 0;
    char szFormat[128] = {};
};
constexpr uint32_t kAcmFormatDetailsSize = 152;

}  // namespace notavox
