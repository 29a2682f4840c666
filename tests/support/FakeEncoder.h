// An encoder that records every call and gives out one byte per chunk and
// "END" for the flush; its results can be scripted.
#pragma once

#include <string>
#include <vector>

#include "codecs/Mp3Encoder.h"

namespace notavox::testing {

class FakeEncoder : public Mp3Encoder {
public:
    bool openOk = true, flushOk = true;
    int failAtChunk = -1;
    Mp3EncoderSettings settings;
    std::vector<uint32_t> counts;
    std::vector<int16_t> values;
    std::vector<std::string> calls;

    bool open(const Mp3EncoderSettings& s) override {
        calls.push_back("open");
        settings = s;
        return openOk;
    }
    bool encode(const int16_t* v, size_t count, std::vector<uint8_t>& out) override {
        calls.push_back("encode");
        if (int(counts.size()) == failAtChunk) return false;
        counts.push_back(uint32_t(count));
        values.insert(values.end(), v, v + count);
        out.push_back('c');
        return true;
    }
    bool flush(std::vector<uint8_t>& out) override {
        calls.push_back("flush");
        if (!flushOk) return false;
        out.insert(out.end(), {'E', 'N', 'D'});
        return true;
    }
};

}  // namespace notavox::testing
