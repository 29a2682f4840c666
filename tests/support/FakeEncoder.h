// A four-call MP3 encoder stream that records every call; its results and
// output can be scripted.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "codecs/Mp3Encoder.h"

namespace notavox::testing {

class FakeEncoder : public Mp3EncoderStream {
public:
    BE_ERR initResult = 0, encodeResult = 0, deinitResult = 0;
    int failAtChunk = -1;
    BE_CONFIG config{};
    std::vector<uint32_t> counts;
    std::vector<int16_t> values;
    std::vector<std::string> calls;

    BE_ERR beInitStream(const BE_CONFIG& c, uint32_t& samples, uint32_t& size, HBE_STREAM& h) override {
        calls.push_back("init");
        config = c;
        samples = 2304;
        size = 100;
        h = 5;
        return initResult;
    }
    BE_ERR beEncodeChunk(HBE_STREAM, uint32_t count, const int16_t* v, uint8_t* out, uint32_t& n) override {
        calls.push_back("encode");
        if (int(counts.size()) == failAtChunk) return encodeResult;
        counts.push_back(count);
        values.insert(values.end(), v, v + count);
        out[0] = 'c';
        n = 1;
        return 0;
    }
    BE_ERR beDeinitStream(HBE_STREAM, uint8_t* out, uint32_t& n) override {
        calls.push_back("deinit");
        std::memcpy(out, "END", 3);
        n = 3;
        return deinitResult;
    }
    BE_ERR beCloseStream(HBE_STREAM) override {
        calls.push_back("close");
        return 0;
    }
};

}  // namespace notavox::testing
