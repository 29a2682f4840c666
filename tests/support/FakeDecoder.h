// A decoder that gives out the bytes it is fed as PCM and records every call;
// whether it opens can be scripted.
#pragma once

#include <vector>

#include "codecs/Mp3Decoder.h"

namespace notavox::testing {

class FakeDecoder : public Mp3Decoder {
public:
    bool openOk = true;
    int opens = 0, openedChannels = 0;
    int32_t openedRate = 0;
    std::vector<std::vector<uint8_t>> pieces;  // what each decode call was given

    bool open(int channels, int32_t rate) override {
        ++opens;
        openedChannels = channels;
        openedRate = rate;
        return openOk;
    }
    void decode(const uint8_t* data, size_t size, std::vector<uint8_t>& pcm) override {
        pieces.emplace_back(data, data + size);
        pcm.insert(pcm.end(), data, data + size);
    }
};

}  // namespace notavox::testing
