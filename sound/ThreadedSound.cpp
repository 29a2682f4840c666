#include "sound/ThreadedSound.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "audio/Parallel.h"

namespace notavox {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kLimit{kBlockWriteLimitMs};
// Slack for the hand-over between the two threads on top of the limit.
constexpr milliseconds kHandOver{500};
// Opening enumerates the sound system's devices, which may be slow.
constexpr milliseconds kOpenLimit{10000};

enum class Op { open, start, write, drain, stop, close };

int64_t stamp() { return Clock::now().time_since_epoch().count(); }

}  // namespace

// State shared by the caller and the worker thread. The output is used by
// the worker only.
struct ThreadedSound::Worker {
    explicit Worker(std::unique_ptr<SoundOutput> out) : output(std::move(out)) {}

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
    std::unique_ptr<SoundOutput> output;
    const SoundOutput::Progress progressed = [this] { progress = stamp(); };

    void run();
    int execute(Op op);
};

void ThreadedSound::Worker::run() {
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
    output->close();
    lock.lock();
    exited = true;
    changed.notify_all();
}

int ThreadedSound::Worker::execute(Op op) {
    switch (op) {
    case Op::open:
        return output->open() ? 1 : 0;
    case Op::start:
        if (output->start()) return 1;
        // The sound server may have gone away since the stream was opened
        // (restarted, or the output changed): open the output afresh once.
        output->close();
        return output->open() && output->start() ? 1 : 0;
    case Op::write:
        // The limit runs while the device takes nothing; it starts now.
        progress = stamp();
        return static_cast<int>(output->write(block.data(), progressed));
    case Op::drain:
        progress = stamp();
        output->drain(progressed);
        return 1;
    case Op::stop:
        output->stop();
        return 1;
    case Op::close:
        output->close();
        return 1;
    }
    return 0;
}

namespace {

// Queues `op` and waits for its result. With `progressive` set the wait lasts
// as long as the worker reports progress at least once per limit; otherwise
// it is bounded by `limit`. `waiting`, when given, runs on the caller's
// thread every kWaitingCallMs of the wait. Returns -1 when the caller gave
// up: a job not yet begun is withdrawn, a running one finishes unobserved.
int call(ThreadedSound::Worker& w, Op op, milliseconds limit, bool progressive,
         const SoundDevice::Waiting& waiting = {}) {
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
        w.changed.wait_for(lock, milliseconds(kWaitingCallMs));
        if (waiting && w.results.find(id) == w.results.end()) {
            lock.unlock();
            waiting();
            lock.lock();
        }
    }
    const auto queued = std::find_if(w.jobs.begin(), w.jobs.end(), [id](const auto& j) { return j.id == id; });
    if (queued != w.jobs.end())
        w.jobs.erase(queued);
    else
        w.abandoned.insert(id);
    return -1;
}

}  // namespace

ThreadedSound::ThreadedSound(std::unique_ptr<SoundOutput> output)
    : worker_(std::make_shared<Worker>(std::move(output))) {
    // The thread holds the shared state itself, so that a thread stuck in
    // the sound system can be left behind safely (see the destructor).
    if (!StartThread(thread_, [w = worker_] { w->run(); })) worker_->onCaller = true;
}

ThreadedSound::~ThreadedSound() {
    if (worker_->onCaller) {
        worker_->output->close();
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

bool ThreadedSound::open() {
    if (open_) return true;
    open_ = call(*worker_, Op::open, kOpenLimit, false) == 1;
    return open_;
}

bool ThreadedSound::start() {
    if (!open_) return false;
    // A stop that is still with the worker counts against the limit.
    return call(*worker_, Op::start, kLimit, false) == 1;
}

SoundWrite ThreadedSound::write(const int16_t* block, const Waiting& waiting) {
    if (!open_) return SoundWrite::failed;
    {
        std::lock_guard<std::mutex> lock(worker_->mutex);
        // The worker is done with the previous block when its write returned;
        // if a write was given up on, the device is treated as gone.
        if (!worker_->abandoned.empty()) return SoundWrite::timedOut;
        std::memcpy(worker_->block.data(), block, sizeof(int16_t) * kBlockSamples);
    }
    const int result = call(*worker_, Op::write, kLimit, true, waiting);
    return result < 0 ? SoundWrite::timedOut : static_cast<SoundWrite>(result);
}

void ThreadedSound::drain(const Waiting& waiting) {
    if (open_) call(*worker_, Op::drain, kLimit, true, waiting);
}

int64_t ThreadedSound::heardFrames() const { return open_ ? worker_->output->heardFrames() : -1; }

void ThreadedSound::stop() {
    if (!open_) return;
    if (worker_->onCaller) {
        worker_->output->stop();
        return;
    }
    std::lock_guard<std::mutex> lock(worker_->mutex);
    worker_->jobs.push_back({Op::stop, ++worker_->lastId});
    worker_->abandoned.insert(worker_->lastId);
    worker_->changed.notify_all();
}

void ThreadedSound::close() {
    if (!open_) return;
    open_ = false;
    call(*worker_, Op::close, kLimit, false);
}

}  // namespace notavox
