// A scriptable decoder driver: configurable results per call, a record of
// the calls made, and a conversion that copies source bytes into the
// destination (optionally using fewer than offered).
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/AcmDriver.h"

namespace notavox::test {

class FakeAcmDriver : public AcmDriver {
public:
    struct Convert {
        uint32_t length;
        uint32_t flags;
        std::vector<uint8_t> bytes;
    };

    // Results to return; 0 by default.
    MMRESULT openResult = 0, sizeResult = 0, prepareResult = 0, convertResult = 0, resetResult = 0,
             unprepareResult = 0, closeResult = 0;
    uint32_t destinationSize = 4096;
    // When non-zero, each conversion uses at most this many source bytes.
    uint32_t useAtMost = 0;
    // Formats offered by the enumeration, per driver.
    std::vector<std::vector<FormatArea>> drivers;

    std::vector<std::string> calls;
    std::vector<Convert> converts;
    uint32_t openFlags = 0xFFFFFFFF;
    FormatArea openedSource{}, openedDestination{};
    int openStreams = 0;

    MMRESULT acmDriverEnum(const DriverCallback& cb, uint32_t flags) override {
        calls.push_back("driverEnum " + std::to_string(flags));
        for (size_t i = 0; i < drivers.size(); ++i)
            if (!cb(HACMDRIVERID(i + 1))) break;
        return 0;
    }
    MMRESULT acmDriverOpen(HACMDRIVER* had, HACMDRIVERID id, uint32_t) override {
        calls.push_back("driverOpen " + std::to_string(id));
        *had = id + 100;
        return 0;
    }
    MMRESULT acmFormatEnum(HACMDRIVER had, ACMFORMATDETAILS& d, const FormatCallback& cb, uint32_t flags) override {
        calls.push_back("formatEnum " + std::to_string(flags) + " " + std::to_string(d.cbStruct) + " " +
                        std::to_string(d.dwFormatTag) + " " + std::to_string(d.cbwfx));
        for (const FormatArea& f : drivers[had - 101]) {
            std::memcpy(d.pwfx, f.data(), 30);
            d.cbwfx = 30;
            d.dwFormatTag = wfx::tag(f);
            cb(had - 100, d);
        }
        return 0;
    }
    MMRESULT acmDriverClose(HACMDRIVER had, uint32_t) override {
        calls.push_back("driverClose " + std::to_string(had - 100));
        return 0;
    }
    MMRESULT acmStreamOpen(HACMSTREAM* h, const FormatArea& src, const FormatArea& dst, uint32_t flags) override {
        calls.push_back("open");
        openFlags = flags;
        openedSource = src;
        openedDestination = dst;
        if (openResult) return openResult;
        *h = 77;
        ++openStreams;
        return 0;
    }
    MMRESULT acmStreamSize(HACMSTREAM, uint32_t, uint32_t* out, uint32_t) override {
        calls.push_back("size");
        *out = destinationSize;
        return sizeResult;
    }
    MMRESULT acmStreamPrepareHeader(HACMSTREAM, ACMSTREAMHEADER& h, uint32_t) override {
        calls.push_back("prepare");
        preparedHeader = h;
        return prepareResult;
    }
    MMRESULT acmStreamConvert(HACMSTREAM, ACMSTREAMHEADER& h, uint32_t flags) override {
        calls.push_back("convert");
        converts.push_back({h.cbSrcLength, flags, std::vector<uint8_t>(h.pbSrc, h.pbSrc + h.cbSrcLength)});
        uint32_t used = h.cbSrcLength;
        if (useAtMost && used > useAtMost) used = useAtMost;
        h.cbSrcLengthUsed = used;
        const uint32_t out = std::min(used, h.cbDstLength);
        std::memcpy(h.pbDst, h.pbSrc, out);
        h.cbDstLengthUsed = out;
        return convertResult;
    }
    MMRESULT acmStreamReset(HACMSTREAM, uint32_t) override {
        calls.push_back("reset");
        return resetResult;
    }
    MMRESULT acmStreamUnprepareHeader(HACMSTREAM, ACMSTREAMHEADER&, uint32_t) override {
        calls.push_back("unprepare");
        return unprepareResult;
    }
    MMRESULT acmStreamClose(HACMSTREAM, uint32_t) override {
        calls.push_back("close");
        --openStreams;
        return closeResult;
    }

    ACMSTREAMHEADER preparedHeader{};
};

}  // namespace notavox::test
