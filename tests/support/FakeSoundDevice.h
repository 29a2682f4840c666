// A sound device that plays nothing and records every block handed to it,
// with the order of the calls, so tests can check what would have been heard.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "sound/SoundDevice.h"

namespace notavox::testing {

class FakeSoundDevice : public SoundDevice {
public:
    // Settings of the fake.
    bool openSucceeds = true;
    bool startSucceeds = true;
    int timeOutAtWrite = -1;  // index of the write() that times out, -1: none
    // Runs inside write() with the index of the write, before it returns.
    std::function<void(int)> onWrite;

    // What happened.
    std::vector<std::vector<int16_t>> blocks;
    std::vector<std::string> calls;
    bool opened = false;
    bool running = false;

    bool open() override {
        calls.push_back("open");
        opened = openSucceeds;
        return opened;
    }
    bool isOpen() const override { return opened; }
    bool start() override {
        calls.push_back("start");
        running = opened && startSucceeds;
        return running;
    }
    SoundWrite write(const int16_t* block) override {
        calls.push_back("write");
        const int index = static_cast<int>(blocks.size());
        if (index == timeOutAtWrite) return SoundWrite::timedOut;
        blocks.emplace_back(block, block + kBlockSamples);
        if (onWrite) onWrite(index);
        return SoundWrite::written;
    }
    void drain() override { calls.push_back("drain"); }
    void stop() override {
        calls.push_back("stop");
        running = false;
    }
    void close() override {
        calls.push_back("close");
        opened = false;
    }

    // The left values of every block after the leading silent one, joined.
    std::vector<int16_t> playedLeft() const { return channel(0); }
    std::vector<int16_t> playedRight() const { return channel(1); }

private:
    std::vector<int16_t> channel(int c) const {
        std::vector<int16_t> out;
        for (size_t b = 1; b < blocks.size(); ++b)
            for (int k = 0; k < kBlockFrames; ++k) out.push_back(blocks[b][2 * k + c]);
        return out;
    }
};

}  // namespace notavox::testing
