// A sound device that plays nothing and records every block handed to it,
// with the order of the calls, so tests can check what would have been heard.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "sound/SoundOutput.h"

namespace notavox::testing {

class FakeSoundDevice : public SoundDevice {
public:
    // Settings of the fake.
    bool openSucceeds = true;
    bool startSucceeds = true;
    int timeOutAtWrite = -1;  // index of the write() that times out, -1: none
    // Runs inside write() with the index of the write, before it returns.
    std::function<void(int)> onWrite;
    // A device with a clock of its own: it takes audio in real time, one
    // kWaitingCallMs step per call of the caller's waiting hook, keeps at
    // most kMostAheadFrames queued (as the real outputs do) and reports as
    // heard what it took minus `latencyFrames` (its way to the speakers).
    // Without it the device cannot tell what is heard.
    bool paced = false;
    long latencyFrames = 0;
    int64_t taken = 0;  // frames the paced device took so far

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
    using SoundDevice::drain;
    using SoundDevice::write;
    SoundWrite write(const int16_t* block, const Waiting& waiting) override {
        calls.push_back("write");
        const int index = static_cast<int>(blocks.size());
        if (index == timeOutAtWrite) return SoundWrite::timedOut;
        if (paced)
            while (writtenFrames() - taken > kMostAheadFrames - kBlockFrames) tick(waiting, writtenFrames());
        blocks.emplace_back(block, block + kBlockSamples);
        if (onWrite) onWrite(index);
        return SoundWrite::written;
    }
    void drain(const Waiting& waiting) override {
        calls.push_back("drain");
        if (paced)
            while (heardFrames() < writtenFrames()) tick(waiting, writtenFrames() + latencyFrames);
    }
    int64_t heardFrames() const override {
        return paced ? std::clamp<int64_t>(taken - latencyFrames, 0, writtenFrames()) : -1;
    }
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
    static constexpr int64_t kStepFrames = int64_t(kPlaybackRate) * kWaitingCallMs / 1000;
    int64_t writtenFrames() const { return int64_t(blocks.size()) * kBlockFrames; }
    // Time passes: the device takes audio, at most up to `upTo`.
    void tick(const Waiting& waiting, int64_t upTo) {
        taken = std::min(taken + kStepFrames, upTo);
        if (waiting) waiting();
    }
    std::vector<int16_t> channel(int c) const {
        std::vector<int16_t> out;
        for (size_t b = 1; b < blocks.size(); ++b)
            for (int k = 0; k < kBlockFrames; ++k) out.push_back(blocks[b][2 * k + c]);
        return out;
    }
};

}  // namespace notavox::testing
