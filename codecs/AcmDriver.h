// The decoder driver behind the codec stream component: driver and format
// enumeration and the stream calls, each answering with the manager's result
// codes. The real driver decodes MPEG audio with libmpg123; tests put a fake
// of their own in its place.
#pragma once

#include <functional>

#include "codecs/AcmTypes.h"

namespace notavox {

class AcmDriver {
public:
    using DriverCallback = std::function<bool(HACMDRIVERID)>;
    using FormatCallback = std::function<bool(HACMDRIVERID, const ACMFORMATDETAILS&)>;

    virtual ~AcmDriver() = default;

    // Calls `callback` for each driver until it returns false.
    virtual MMRESULT acmDriverEnum(const DriverCallback& callback, uint32_t flags) = 0;
    virtual MMRESULT acmDriverOpen(HACMDRIVER* driver, HACMDRIVERID id, uint32_t flags) = 0;
    // Calls `callback` for each format of the open driver; `details` carries
    // the caller's format buffer (pwfx, cbwfx), which each format is copied
    // into before the call.
    virtual MMRESULT acmFormatEnum(HACMDRIVER driver, ACMFORMATDETAILS& details, const FormatCallback& callback,
                                   uint32_t flags) = 0;
    virtual MMRESULT acmDriverClose(HACMDRIVER driver, uint32_t flags) = 0;

    virtual MMRESULT acmStreamOpen(HACMSTREAM* stream, const FormatArea& source, const FormatArea& destination,
                                   uint32_t flags) = 0;
    // Size of the destination buffer that `inputBytes` source bytes need.
    virtual MMRESULT acmStreamSize(HACMSTREAM stream, uint32_t inputBytes, uint32_t* outputBytes,
                                   uint32_t flags) = 0;
    virtual MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER& header, uint32_t flags) = 0;
    // Converts header.cbSrcLength bytes at pbSrc into pbDst and reports the
    // bytes used and produced in cbSrcLengthUsed and cbDstLengthUsed.
    virtual MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER& header, uint32_t flags) = 0;
    virtual MMRESULT acmStreamReset(HACMSTREAM stream, uint32_t flags) = 0;
    virtual MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER& header, uint32_t flags) = 0;
    virtual MMRESULT acmStreamClose(HACMSTREAM stream, uint32_t flags) = 0;
};

// The program's driver: MPEG audio decoding through libmpg123. It lists every
// MPEG-1, MPEG-2 and MPEG-2.5 Layer III format (all sample rates, mono and
// stereo, the standard bit rates) and opens streams from such a format to
// 16-bit PCM of the same rate and channel count.
AcmDriver& SystemAcmDriver();

}  // namespace notavox
