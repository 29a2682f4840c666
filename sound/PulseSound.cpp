#include "sound/PulseSound.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace notavox {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kLimit{kBlockWriteLimitMs};
// A block is written once no more than this is still to be heard.
constexpr pa_usec_t kAheadUsec =
    static_cast<pa_usec_t>(kMostAheadFrames - kBlockFrames) * 1000000u / static_cast<pa_usec_t>(kPlaybackRate);
constexpr uint32_t kFrameBytes = 2 * kPlaybackChannels;

void wake(pa_threaded_mainloop* loop) { pa_threaded_mainloop_signal(loop, 0); }

class PulseOutput final : public SoundOutput {
public:
    ~PulseOutput() override { close(); }

    bool open() override {
        if (context_) return true;
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return false;
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Notavox");
        if (!context_) {
            close();
            return false;
        }
        pa_context_set_state_callback(
            context_, [](pa_context*, void* loop) { wake(static_cast<pa_threaded_mainloop*>(loop)); }, loop_);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0 ||
            pa_threaded_mainloop_start(loop_) < 0 || !connected()) {
            close();
            return false;
        }
        return true;
    }

    // Every playback gets a stream of its own: a stream that has run dry
    // and is fed again waits for the sink to play what it had prepared
    // meanwhile, which a fresh stream does not.
    bool start() override {
        if (running_) return true;
        if (!context_) return false;
        Lock lock(loop_);
        dropStream();
        // After the server went away the connection stays failed.
        if (pa_context_get_state(context_) != PA_CONTEXT_READY || !connectStream()) {
            dropStream();
            return false;
        }
        running_ = true;
        written_ = 0;
        lastTaken_ = Clock::now();
        lastLatency_ = static_cast<pa_usec_t>(-1);
        heard_ = 0;
        return true;
    }

    SoundWrite write(const int16_t* data, const Progress& progressed) override {
        if (!running_) return SoundWrite::failed;
        const auto began = Clock::now();
        for (;;) {
            pa_usec_t latency = 0;
            if (!freshLatency(latency)) return SoundWrite::failed;
            const auto now = Clock::now();
            if (latency < lastLatency_) {
                // The server took audio since the last look.
                lastTaken_ = now;
                progressed();
            }
            lastLatency_ = latency;
            if (latency <= kAheadUsec) break;
            // A sink that keeps more than that however little it is given
            // (a fixed latency of its own): while it takes audio, the clock
            // paces, as the audio is taken in real time.
            if (written_ > 0 && now - lastTaken_ < kLimit) {
                const double played = std::chrono::duration<double>(now - first_).count() * kPlaybackRate;
                if (static_cast<double>(written_) - played <= double(kMostAheadFrames - kBlockFrames)) break;
            }
            if (now - std::max(began, lastTaken_) >= kLimit) return SoundWrite::timedOut;
            std::this_thread::sleep_for(milliseconds(3));
        }
        {
            Lock lock(loop_);
            if (!usable() ||
                pa_stream_write(stream_, data, static_cast<size_t>(kBlockBytes), nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return SoundWrite::failed;
        }
        if (written_ == 0) first_ = Clock::now();
        written_ += kBlockFrames;
        progressed();
        return SoundWrite::written;
    }

    // Waits for the drain while asking the server for its played position,
    // so that the cursor follows the end of the sound as well.
    void drain(const Progress& progressed) override {
        if (!running_) return;
        pa_operation* op = nullptr;
        {
            Lock lock(loop_);
            if (usable()) op = pa_stream_drain(stream_, done, loop_);
        }
        if (!op) return;
        for (;;) {
            {
                Lock lock(loop_);
                if (pa_operation_get_state(op) != PA_OPERATION_RUNNING) break;
            }
            pa_usec_t latency = 0;
            const int64_t before = heard_;
            if (!freshLatency(latency)) break;
            if (heard_ != before) progressed();
            std::this_thread::sleep_for(milliseconds(3));
        }
        Lock lock(loop_);
        // Drained: the server has played all of it.
        if (pa_operation_get_state(op) == PA_OPERATION_DONE) heard_ = std::max<int64_t>(heard_, written_);
        pa_operation_unref(op);
        progressed();
    }

    int64_t heardFrames() const override { return heard_; }

    void stop() override {
        if (!running_) return;
        running_ = false;
        Lock lock(loop_);
        dropStream();
    }

    void close() override {
        running_ = false;
        // With the loop stopped nothing else touches the stream.
        if (loop_) pa_threaded_mainloop_stop(loop_);
        dropStream();
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        if (loop_) pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }

private:
    class Lock {
    public:
        explicit Lock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

    static void done(pa_stream*, int, void* loop) { wake(static_cast<pa_threaded_mainloop*>(loop)); }

    // Both the connection and the stream are alive. Called under the lock.
    bool usable() const {
        return stream_ && pa_context_get_state(context_) == PA_CONTEXT_READY &&
               pa_stream_get_state(stream_) == PA_STREAM_READY;
    }

    // Waits for an operation; false when it did not complete (the server
    // went away meanwhile). Called under the lock.
    bool await(pa_operation* op) {
        if (!op) return false;
        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop_);
        const bool completed = pa_operation_get_state(op) == PA_OPERATION_DONE;
        pa_operation_unref(op);
        return completed;
    }

    // Waits until the connection to the server is made; false if it fails.
    bool connected() {
        Lock lock(loop_);
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context_);
            if (state == PA_CONTEXT_READY) return true;
            if (!PA_CONTEXT_IS_GOOD(state)) return false;
            pa_threaded_mainloop_wait(loop_);
        }
    }

    // Drops the stream at once, with what it still holds. Called under the
    // lock, or with the loop stopped.
    void dropStream() {
        if (!stream_) return;
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }

    // Called under the lock.
    bool connectStream() {
        const pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<uint32_t>(kPlaybackRate),
                                    static_cast<uint8_t>(kPlaybackChannels)};
        stream_ = pa_stream_new(context_, "Wiedergabe", &format, nullptr);
        if (!stream_) return false;
        pa_stream_set_state_callback(
            stream_, [](pa_stream*, void* loop) { wake(static_cast<pa_threaded_mainloop*>(loop)); }, loop_);
        // The server may keep up to two seconds for the stream: a sink that
        // was idle has its output prepared that far ahead and can take the
        // new stream in at once only when the stream allows it as much. How
        // much is really queued is up to write(). Playing starts as soon as
        // one block is there.
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(2 * kPlaybackRate) * kFrameBytes;
        attr.prebuf = static_cast<uint32_t>(kBlockBytes);
        attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(-1);
        if (pa_stream_connect_playback(stream_, nullptr, &attr, PA_STREAM_NOFLAGS, nullptr, nullptr) < 0)
            return false;
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY) return true;
            if (!PA_STREAM_IS_GOOD(state)) return false;
            pa_threaded_mainloop_wait(loop_);
        }
    }

    // What is written and not yet heard, asked of the server now: between
    // the server's own reports the client would guess, and a stream that
    // waits for its first block would seem to be playing. Also learns the
    // played position: the stream's time is what the sink has played of it.
    bool freshLatency(pa_usec_t& latency) {
        Lock lock(loop_);
        if (!usable() || !await(pa_stream_update_timing_info(stream_, done, loop_))) return false;
        int negative = 0;
        if (pa_stream_get_latency(stream_, &latency, &negative) < 0) return false;
        if (negative) latency = 0;
        pa_usec_t time = 0;
        if (pa_stream_get_time(stream_, &time) == 0)
            heard_ = static_cast<int64_t>(time * static_cast<pa_usec_t>(kPlaybackRate) / 1000000u);
        return true;
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool running_ = false;
    long written_ = 0;          // frames written since the stream started
    Clock::time_point first_;  // when the first of them was written
    Clock::time_point lastTaken_;  // when the server was last seen taking audio
    pa_usec_t lastLatency_ = 0;    // what was not yet heard at the last look
    std::atomic<int64_t> heard_{-1};  // frames of the stream played, by the server
};

}  // namespace

std::unique_ptr<SoundOutput> MakePulseOutput() { return std::make_unique<PulseOutput>(); }

}  // namespace notavox
