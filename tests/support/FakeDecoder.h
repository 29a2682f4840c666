// A scriptable decoder: configurable results per call, a record of the calls
// made, and a conversion that copies source bytes into the destination
// (optionally using fewer than offered).
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/Decoder.h"

namespace notavox::testing {

class FakeDecoder : public Decoder {
public:
    struct Convert {
        uint32_t length;
        uint32_t flags;
        std::vector<uint8_t> bytes;
    };

    // Results to return; 0 by default.
    MMRESULT openResult = 0, sizeResult = 0, convertResult = 0, resetResult = 0, closeResult = 0;
    uint32_t destinationSize = 4096;
    // When non-zero, each conversion uses at most this many source bytes.
    uint32_t useAtMost = 0;
    // The formats the decoder offers.
    std::vector<FormatArea> offered;

    std::vector<std::string> calls;
    std::vector<Convert> converts;
    bool openedRealTime = false;
    FormatArea openedSource{}, openedDestination{};
    int openStreams = 0;

    std::vector<FormatArea> formats() override {
        calls.push_back("formats");
        return offered;
    }
    MMRESULT open(const FormatArea& src, const FormatArea& dst, bool realTime) override {
        calls.push_back("open");
        openedRealTime = realTime;
        openedSource = src;
        openedDestination = dst;
        if (openResult) return openResult;
        ++openStreams;
        return 0;
    }
    MMRESULT size(uint32_t, uint32_t& out) override {
        calls.push_back("size");
        out = destinationSize;
        return sizeResult;
    }
    MMRESULT convert(StreamHeader& h, uint32_t flags) override {
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
    MMRESULT reset() override {
        calls.push_back("reset");
        return resetResult;
    }
    MMRESULT close() override {
        calls.push_back("close");
        --openStreams;
        return closeResult;
    }
};

}  // namespace notavox::testing
