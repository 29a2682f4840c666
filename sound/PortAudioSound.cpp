#include "sound/PortAudioSound.h"

#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "audio/Parallel.h"

namespace notavox {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kLimit{kBlockWriteLimitMs};
// At most this much audio is written ahead of what is heard, whatever buffer
// the device gave: a bridge to a sound server may hand out a buffer of
// seconds although a quarter of a second was asked for, and filling it would
// delay the sound (and the cursor) by all of it.
constexpr long kMostAhead = long(kBlockFrames) * 3 / 2;
// Slack for the hand-over between the two threads on top of the limit.
constexpr milliseconds kHandOver{500};
// Opening enumerates the sound system's devices, which may be slow.
constexpr milliseconds kOpenLimit{10000};

enum class Op { open, start, write, drain, stop, close };

// PortAudio's start-up asks every sound system it knows (ALSA's plugins,
// JACK) and they report on the terminal what they did not find. That is no
// news for the user: stderr goes to /dev/null while PortAudio sets up and
// shuts down.
class QuietStderr {
public:
    QuietStderr() {
        static std::recursive_mutex lock;  // openStream's failure path closes inside it
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

int64_t stamp() { return Clock::now().time_since_epoch().count(); }

}  // namespace

// State shared by the caller and the worker thread. The PortAudio fields are
// touched by the worker only.
struct PortAudioSound::Worker {
    std::mutex mutex;
    std::condition_variable changed;
    struct Job {
        Op op;
        uint64_t id;
    };
    std::deque<Job> jobs;
    uint64_t lastId = 0;
    std::map<uint64_t, int> results;  // finished jobs whose caller still waits
    std::set<uint64_t> abandoned;     // running jobs whose caller gave up
    bool quit = false;
    bool exited = false;
    // No thread could be started: every call runs on the caller's thread,
    // without the protection against a hanging sound system.
    bool onCaller = false;
    std::atomic<int64_t> progress{0};  // when the device last took audio
    std::vector<int16_t> block = std::vector<int16_t>(kBlockSamples, 0);

    PaStream* stream = nullptr;
    bool initialised = false;
    bool running = false;
    long bufferFrames = 0;  // room in the stream's buffer when it is empty

    void run();
    int execute(Op op);
    bool openStream();
    bool startStream();
    SoundWrite writeBlock(const int16_t* data);
    void drainStream();
    void stopStream();
    void closeStream();
};

void PortAudioSound::Worker::run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return quit || !jobs.empty(); });
        if (jobs.empty()) break;
        const Job job = jobs.front();
        jobs.pop_front();
        lock.unlock();
        const int result = execute(job.op);
        lock.lock();
        if (!abandoned.erase(job.id)) results[job.id] = result;
        changed.notify_all();
    }
    lock.unlock();
    closeStream();
    lock.lock();
    exited = true;
    changed.notify_all();
}

int PortAudioSound::Worker::execute(Op op) {
    switch (op) {
    case Op::open:
        return openStream() ? 1 : 0;
    case Op::start:
        if (running) return 1;
        if (startStream()) return 1;
        // The sound server may have gone away since the stream was opened
        // (restarted, or the output changed): open the output afresh once.
        closeStream();
        return openStream() && startStream() ? 1 : 0;
    case Op::write:
        return static_cast<int>(writeBlock(block.data()));
    case Op::drain:
        drainStream();
        return 1;
    case Op::stop:
        stopStream();
        return 1;
    case Op::close:
        closeStream();
        return 1;
    }
    return 0;
}

bool PortAudioSound::Worker::openStream() {
    if (stream) return true;
    QuietStderr quiet;
    if (Pa_Initialize() != paNoError) return false;
    initialised = true;

    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (!info) {
        closeStream();
        return false;
    }
    PaStreamParameters out{};
    out.device = device;
    out.channelCount = kPlaybackChannels;
    out.sampleFormat = paInt16;
    // About one block of buffering: a block is heard roughly one block after
    // it was computed, and a stop takes effect within about two blocks.
    out.suggestedLatency = static_cast<double>(kBlockFrames) / kPlaybackRate;
    out.hostApiSpecificStreamInfo = nullptr;
    if (Pa_OpenStream(&stream, nullptr, &out, kPlaybackRate, paFramesPerBufferUnspecified, paClipOff, nullptr,
                      nullptr) != paNoError) {
        stream = nullptr;
        closeStream();
        return false;
    }
    return true;
}

bool PortAudioSound::Worker::startStream() {
    if (!stream || Pa_StartStream(stream) != paNoError) return false;
    const long room = Pa_GetStreamWriteAvailable(stream);
    if (room < 0) {
        Pa_AbortStream(stream);
        return false;
    }
    running = true;
    bufferFrames = room;
    return true;
}

SoundWrite PortAudioSound::Worker::writeBlock(const int16_t* data) {
    if (!running) return SoundWrite::failed;
    // The limit runs while the device takes nothing. A sound server may hold
    // a fresh stream for most of two seconds before it starts to play (an
    // idle null sink wakes up only that often); that is a slow start, not a
    // device that went away.
    progress = stamp();
    auto deadline = Clock::now() + kLimit;
    long done = 0;
    while (done < kBlockFrames) {
        const long room = Pa_GetStreamWriteAvailable(stream);
        if (room < 0) return SoundWrite::failed;
        // The room first seen may have been read before the stream settled;
        // the largest room seen is the size of the empty buffer.
        bufferFrames = std::max(bufferFrames, room);
        const long ahead = bufferFrames - room;
        const long allowed = std::min(room, kMostAhead - ahead);
        if (allowed <= 0) {
            if (Clock::now() >= deadline) return SoundWrite::timedOut;
            std::this_thread::sleep_for(milliseconds(2));
            continue;
        }
        // Never more than there is room for, so the write does not block.
        const long n = std::min<long>(allowed, kBlockFrames - done);
        const PaError err = Pa_WriteStream(stream, data + done * kPlaybackChannels, static_cast<unsigned long>(n));
        if (err != paNoError && err != paOutputUnderflowed) return SoundWrite::failed;
        done += n;
        progress = stamp();
        deadline = Clock::now() + kLimit;
    }
    return SoundWrite::written;
}

void PortAudioSound::Worker::drainStream() {
    if (!running) return;
    // PortAudio's stop drops what is still buffered, in the stream and in the
    // sound server behind it. One block of silence pushes the last real block
    // out of every buffer that is at most one block deep; then wait until the
    // stream's own buffer has run empty.
    const std::vector<int16_t> silence(kBlockSamples, 0);
    if (writeBlock(silence.data()) != SoundWrite::written) return;
    auto deadline = Clock::now() + kLimit;
    long last = -1;
    while (Clock::now() < deadline) {
        const long room = Pa_GetStreamWriteAvailable(stream);
        if (room < 0 || room >= bufferFrames) break;
        if (room != last) {
            last = room;
            progress = stamp();
        }
        std::this_thread::sleep_for(milliseconds(2));
    }
}

void PortAudioSound::Worker::stopStream() {
    if (!running) return;
    Pa_AbortStream(stream);
    running = false;
}

void PortAudioSound::Worker::closeStream() {
    if (stream) {
        stopStream();
        Pa_CloseStream(stream);
        stream = nullptr;
    }
    if (initialised) {
        QuietStderr quiet;
        Pa_Terminate();
        initialised = false;
    }
}

namespace {

// Queues `op` and waits for its result. With `progressive` set the wait lasts
// as long as the worker reports progress at least once per limit; otherwise
// it is bounded by `limit`. Returns -1 when the caller gave up: a job not yet
// begun is withdrawn, a running one finishes unobserved.
int call(PortAudioSound::Worker& w, Op op, milliseconds limit, bool progressive) {
    if (w.onCaller) return w.execute(op);
    std::unique_lock<std::mutex> lock(w.mutex);
    if (w.exited) return -1;
    const uint64_t id = ++w.lastId;
    w.jobs.push_back({op, id});
    w.progress = stamp();
    w.changed.notify_all();
    const auto begun = Clock::now();
    for (;;) {
        const auto found = w.results.find(id);
        if (found != w.results.end()) {
            const int result = found->second;
            w.results.erase(found);
            return result;
        }
        const auto now = Clock::now();
        const bool late = progressive
                              ? now.time_since_epoch().count() - w.progress.load() >
                                    std::chrono::duration_cast<Clock::duration>(limit + kHandOver).count()
                              : now - begun > limit;
        if (late) break;
        w.changed.wait_for(lock, milliseconds(50));
    }
    const auto queued = std::find_if(w.jobs.begin(), w.jobs.end(), [id](const auto& j) { return j.id == id; });
    if (queued != w.jobs.end())
        w.jobs.erase(queued);
    else
        w.abandoned.insert(id);
    return -1;
}

}  // namespace

PortAudioSound::PortAudioSound() : worker_(std::make_shared<Worker>()) {
    // PortAudio must not start a JACK server of its own just to look for it.
    ::setenv("JACK_NO_START_SERVER", "1", 0);
    // The thread holds the shared state itself, so that a thread stuck in
    // the sound system can be left behind safely (see the destructor).
    if (!StartThread(thread_, [w = worker_] { w->run(); })) worker_->onCaller = true;
}

PortAudioSound::~PortAudioSound() {
    if (worker_->onCaller) {
        worker_->closeStream();
        return;
    }
    std::unique_lock<std::mutex> lock(worker_->mutex);
    worker_->quit = true;
    worker_->changed.notify_all();
    const bool finished = worker_->changed.wait_for(lock, kLimit, [this] { return worker_->exited; });
    lock.unlock();
    if (finished)
        thread_.join();
    else
        thread_.detach();  // hung in the sound system; it ends when that gives up
}

bool PortAudioSound::open() {
    if (open_) return true;
    open_ = call(*worker_, Op::open, kOpenLimit, false) == 1;
    return open_;
}

bool PortAudioSound::start() {
    if (!open_) return false;
    // A stop that is still with the worker counts against the limit.
    return call(*worker_, Op::start, kLimit, false) == 1;
}

SoundWrite PortAudioSound::write(const int16_t* block) {
    if (!open_) return SoundWrite::failed;
    {
        std::lock_guard<std::mutex> lock(worker_->mutex);
        // The worker is done with the previous block when its write returned;
        // if a write was given up on, the device is treated as gone.
        if (!worker_->abandoned.empty()) return SoundWrite::timedOut;
        std::memcpy(worker_->block.data(), block, sizeof(int16_t) * kBlockSamples);
    }
    const int result = call(*worker_, Op::write, kLimit, true);
    return result < 0 ? SoundWrite::timedOut : static_cast<SoundWrite>(result);
}

void PortAudioSound::drain() {
    if (open_) call(*worker_, Op::drain, kLimit, true);
}

void PortAudioSound::stop() {
    if (!open_) return;
    if (worker_->onCaller) {
        worker_->stopStream();
        return;
    }
    std::lock_guard<std::mutex> lock(worker_->mutex);
    worker_->jobs.push_back({Op::stop, ++worker_->lastId});
    worker_->abandoned.insert(worker_->lastId);
    worker_->changed.notify_all();
}

void PortAudioSound::close() {
    if (!open_) return;
    open_ = false;
    call(*worker_, Op::close, kLimit, false);
}

}  // namespace notavox
