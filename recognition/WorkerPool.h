// A fixed set of threads that run the items of one job at a time; the
// calling thread works as worker 0. Which worker runs an item is left to
// chance, so items must write only their own part of the result.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace notavox::recognition {

class WorkerPool {
public:
    // `threads` workers in all (0: one per core).
    explicit WorkerPool(unsigned threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    unsigned size() const { return unsigned(helpers_.size()) + 1; }

    // Calls fn(item, worker) for item = 0..items-1 and returns when all are
    // done. An exception of an item is passed on after the others ended.
    void run(int64_t items, const std::function<void(int64_t, unsigned)>& fn);

private:
    void work(unsigned worker);

    std::vector<std::thread> helpers_;
    std::mutex mutex_;
    std::condition_variable start_, finished_;
    const std::function<void(int64_t, unsigned)>* job_ = nullptr;
    int64_t items_ = 0;
    std::atomic<int64_t> next_{0};
    unsigned busy_ = 0;
    uint64_t generation_ = 0;
    bool stop_ = false;
    std::exception_ptr error_;
};

}  // namespace notavox::recognition
