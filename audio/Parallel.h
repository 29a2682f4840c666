// Splitting work over the cores. Every place of the program that starts a
// thread does it through here, so that where no further thread can be
// started (a process limit such as `ulimit -u`, or no memory for a stack)
// the work still gets done: whatever no thread could be started for runs on
// the calling thread, with the same results.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace notavox {

// The number of cores, at least 1.
unsigned CoreCount();

// Starts a thread running `body`. False when no thread could be started:
// then `body` has not run and `thread` is untouched.
bool StartThread(std::thread& thread, std::function<void()> body);

// Runs part(0) .. part(parts - 1): part 0 on the calling thread, each other
// part on a thread of its own, and a part whose thread could not be started
// on the calling thread after part 0. Returns when every part is done; an
// exception of a part (the first, when several throw) is passed on then.
void RunInParts(size_t parts, const std::function<void(size_t part)>& part);

// Runs item(0) .. item(items - 1) in RunInParts over `workers` parts (0: one
// per core; never more parts than items). Each part takes the next item that
// no part has taken yet, so which part runs an item is left to chance: an
// item writes only its own share of the result, and uses `part` (below
// `workers`) to find scratch space of its part's own. After an item threw,
// no further item is taken.
void RunItems(size_t items, unsigned workers, const std::function<void(size_t item, size_t part)>& item);

// RunInParts and RunItems for work that comes in many rounds: the threads
// of the parts are started once and wait between rounds, so that a round
// costs no thread start (and a waiting thread is woken sooner than a new one
// is first run on a busy machine). The parts whose threads could not be
// started run on the calling thread, as in RunInParts.
class PartGroup {
public:
    explicit PartGroup(size_t parts);  // 0: one per core
    ~PartGroup();
    PartGroup(const PartGroup&) = delete;
    PartGroup& operator=(const PartGroup&) = delete;

    size_t parts() const { return parts_; }
    // As RunInParts(parts(), part).
    void run(const std::function<void(size_t part)>& part);
    // As RunItems(items, parts(), item).
    void runItems(size_t items, const std::function<void(size_t item, size_t part)>& item);

private:
    void runGuarded(const std::function<void(size_t)>& part, size_t index);

    size_t parts_;
    std::vector<std::thread> threads_;
    std::vector<size_t> onCaller_;  // parts 1.. that no thread could be started for
    std::mutex mutex_;
    std::condition_variable start_, finished_;
    const std::function<void(size_t)>* job_ = nullptr;
    uint64_t round_ = 0;
    size_t busy_ = 0;
    bool stop_ = false;
    std::exception_ptr error_;
};

// Threads that all run the same body, joined when the group ends.
class WorkerGroup {
public:
    WorkerGroup() = default;
    WorkerGroup(const WorkerGroup&) = delete;
    WorkerGroup& operator=(const WorkerGroup&) = delete;
    ~WorkerGroup() { join(); }

    // Starts up to `count` threads running `body`; returns how many run.
    // With none the caller must do the work itself.
    size_t start(size_t count, const std::function<void()>& body);
    void join();

private:
    std::vector<std::thread> threads_;
};

// How threads are started; the seam through which the tests make thread
// creation fail. Throws std::system_error when no thread can be started.
using ThreadStarter = std::thread (*)(std::function<void()> body);
// Installs `starter` (null: the standard one) and returns the one before.
ThreadStarter SetThreadStarter(ThreadStarter starter);

}  // namespace notavox
