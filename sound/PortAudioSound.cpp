#include "sound/PortAudioSound.h"

#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace notavox {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kLimit{kBlockWriteLimitMs};

// PortAudio's start-up asks every sound system it knows (ALSA's plugins,
// JACK) and they report on the terminal what they did not find; a stream
// whose sound server went away reports each failed step when it is started
// or stopped. That is no news for the user: stderr goes to /dev/null while
// PortAudio sets up, starts, stops and shuts down.
class QuietStderr {
public:
    QuietStderr() {
        static std::recursive_mutex lock;  // open's failure path closes inside it
        guard_ = std::unique_lock<std::recursive_mutex>(lock);
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
        if (null >= 0) ::close(null);
    }
    ~QuietStderr() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    std::unique_lock<std::recursive_mutex> guard_;
    int saved_ = -1;
};

class PortAudioOutput final : public SoundOutput {
public:
    PortAudioOutput() {
        // PortAudio must not start a JACK server of its own just to look for it.
        ::setenv("JACK_NO_START_SERVER", "1", 0);
    }
    ~PortAudioOutput() override { close(); }

    bool open() override {
        if (stream_) return true;
        QuietStderr quiet;
        if (Pa_Initialize() != paNoError) return false;
        initialised_ = true;

        const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
        const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
        if (!info) {
            close();
            return false;
        }
        PaStreamParameters out{};
        out.device = device;
        out.channelCount = kPlaybackChannels;
        out.sampleFormat = paInt16;
        // About one block of buffering: a block is heard roughly one block
        // after it was computed, and a stop takes effect within about two.
        out.suggestedLatency = static_cast<double>(kBlockFrames) / kPlaybackRate;
        out.hostApiSpecificStreamInfo = nullptr;
        if (Pa_OpenStream(&stream_, nullptr, &out, kPlaybackRate, paFramesPerBufferUnspecified, paClipOff,
                          nullptr, nullptr) != paNoError) {
            stream_ = nullptr;
            close();
            return false;
        }
        return true;
    }

    bool start() override {
        if (running_) return true;
        QuietStderr quiet;
        if (!stream_ || Pa_StartStream(stream_) != paNoError) return false;
        const long room = Pa_GetStreamWriteAvailable(stream_);
        if (room < 0) {
            Pa_AbortStream(stream_);
            return false;
        }
        running_ = true;
        bufferFrames_ = room;
        written_ = 0;
        heard_ = 0;
        return true;
    }

    SoundWrite write(const int16_t* data, const Progress& progressed) override {
        if (!running_) return SoundWrite::failed;
        // The limit runs while the device takes nothing. A sound server may
        // hold a fresh stream for most of two seconds before it starts to
        // play; that is a slow start, not a device that went away.
        auto deadline = Clock::now() + kLimit;
        long done = 0;
        while (done < kBlockFrames) {
            const long room = Pa_GetStreamWriteAvailable(stream_);
            if (room < 0) return SoundWrite::failed;
            // The room first seen may have been read before the stream
            // settled; the largest room seen is the size of the empty buffer.
            bufferFrames_ = std::max(bufferFrames_, room);
            learnHeard(room);
            const long ahead = bufferFrames_ - room;
            const long allowed = std::min(room, kMostAheadFrames - ahead);
            if (allowed <= 0) {
                if (Clock::now() >= deadline) return SoundWrite::timedOut;
                std::this_thread::sleep_for(milliseconds(2));
                continue;
            }
            // Never more than there is room for, so the write does not block.
            const long n = std::min<long>(allowed, kBlockFrames - done);
            const PaError err =
                Pa_WriteStream(stream_, data + done * kPlaybackChannels, static_cast<unsigned long>(n));
            if (err != paNoError && err != paOutputUnderflowed) return SoundWrite::failed;
            done += n;
            written_ += n;
            progressed();
            deadline = Clock::now() + kLimit;
        }
        return SoundWrite::written;
    }

    void drain(const Progress& progressed) override {
        if (!running_) return;
        // PortAudio's stop drops what is still buffered, in the stream and in
        // the sound server behind it. One block of silence pushes the last
        // real block out of every buffer that is at most one block deep; then
        // wait until the stream's own buffer has run empty.
        const std::vector<int16_t> silence(kBlockSamples, 0);
        if (write(silence.data(), progressed) != SoundWrite::written) return;
        const auto deadline = Clock::now() + kLimit;
        long last = -1;
        while (Clock::now() < deadline) {
            const long room = Pa_GetStreamWriteAvailable(stream_);
            if (room < 0 || room >= bufferFrames_) break;
            learnHeard(room);
            if (room != last) {
                last = room;
                progressed();
            }
            std::this_thread::sleep_for(milliseconds(2));
        }
    }

    int64_t heardFrames() const override { return heard_; }

    void stop() override {
        if (!running_) return;
        QuietStderr quiet;
        Pa_AbortStream(stream_);
        running_ = false;
    }

    void close() override {
        QuietStderr quiet;
        if (stream_) {
            stop();
            Pa_CloseStream(stream_);
            stream_ = nullptr;
        }
        if (initialised_) {
            Pa_Terminate();
            initialised_ = false;
        }
    }

private:
    // What is written and still in the stream's buffer is not heard yet,
    // nor what the device behind it holds (its output latency beyond that
    // buffer, as PortAudio reports it). `room`: the buffer's free room now.
    void learnHeard(long room) {
        const long queued = bufferFrames_ - room;
        long behind = 0;
        if (const PaStreamInfo* info = Pa_GetStreamInfo(stream_))
            behind = std::max(0L, static_cast<long>(info->outputLatency * kPlaybackRate) - bufferFrames_);
        heard_ = std::max<int64_t>(0, written_ - queued - behind);
    }

    PaStream* stream_ = nullptr;
    bool initialised_ = false;
    bool running_ = false;
    long bufferFrames_ = 0;  // room in the stream's buffer when it is empty
    int64_t written_ = 0;    // frames written since the stream started
    std::atomic<int64_t> heard_{-1};
};

}  // namespace

std::unique_ptr<SoundOutput> MakePortAudioOutput() { return std::make_unique<PortAudioOutput>(); }

}  // namespace notavox
