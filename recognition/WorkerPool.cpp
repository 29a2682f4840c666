#include "recognition/WorkerPool.h"

namespace notavox::recognition {

WorkerPool::WorkerPool(unsigned threads) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned w = 1; w < threads; ++w) {
        helpers_.emplace_back([this, w] {
            uint64_t seen = 0;
            for (;;) {
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    start_.wait(lock, [&] { return stop_ || generation_ != seen; });
                    if (stop_) return;
                    seen = generation_;
                }
                work(w);
                std::lock_guard<std::mutex> lock(mutex_);
                if (--busy_ == 0) finished_.notify_all();
            }
        });
    }
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    start_.notify_all();
    for (auto& t : helpers_) t.join();
}

void WorkerPool::work(unsigned worker) {
    for (;;) {
        const int64_t item = next_.fetch_add(1);
        if (item >= items_) return;
        try {
            (*job_)(item, worker);
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!error_) error_ = std::current_exception();
            next_.store(items_);
        }
    }
}

void WorkerPool::run(int64_t items, const std::function<void(int64_t, unsigned)>& fn) {
    if (items <= 0) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = &fn;
        items_ = items;
        next_.store(0);
        busy_ = unsigned(helpers_.size());
        error_ = nullptr;
        ++generation_;
    }
    start_.notify_all();
    work(0);
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait(lock, [&] { return busy_ == 0; });
        job_ = nullptr;
        error = error_;
    }
    if (error) std::rethrow_exception(error);
}

}  // namespace notavox::recognition
