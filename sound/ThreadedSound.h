// A SoundDevice over a SoundOutput whose calls all run on one worker thread
// of the device. The caller's thread (the user-interface thread) waits for
// each call only as long as the sound system keeps making progress: a sound
// server that hangs can keep a call busy for half a minute, and that must not
// freeze the window.
#pragma once

#include <memory>
#include <thread>

#include "sound/SoundDevice.h"
#include "sound/SoundOutput.h"

namespace notavox {

class ThreadedSound : public SoundDevice {
public:
    explicit ThreadedSound(std::unique_ptr<SoundOutput> output);
    ~ThreadedSound() override;
    ThreadedSound(const ThreadedSound&) = delete;
    ThreadedSound& operator=(const ThreadedSound&) = delete;

    bool open() override;
    bool isOpen() const override { return open_; }
    bool start() override;
    using SoundDevice::write;
    using SoundDevice::drain;
    SoundWrite write(const int16_t* block, const Waiting& waiting) override;
    void drain(const Waiting& waiting) override;
    int64_t heardFrames() const override;
    // Does not wait: the stream is stopped by the worker before anything
    // that is asked of the device afterwards.
    void stop() override;
    void close() override;

    struct Worker;

private:
    std::shared_ptr<Worker> worker_;
    std::thread thread_;
    bool open_ = false;
};

}  // namespace notavox
