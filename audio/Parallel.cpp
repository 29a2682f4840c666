#include "audio/Parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>

namespace notavox {

namespace {

std::thread startStandard(std::function<void()> body) { return std::thread(std::move(body)); }

std::atomic<ThreadStarter> gStarter{&startStandard};

}  // namespace

ThreadStarter SetThreadStarter(ThreadStarter starter) { return gStarter.exchange(starter ? starter : &startStandard); }

unsigned CoreCount() { return std::max(1u, std::thread::hardware_concurrency()); }

bool StartThread(std::thread& thread, std::function<void()> body) {
    try {
        thread = gStarter.load()(std::move(body));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void RunInParts(size_t parts, const std::function<void(size_t)>& part) {
    if (parts == 0) return;
    PartGroup(parts).run(part);
}

void RunItems(size_t items, unsigned workers, const std::function<void(size_t, size_t)>& item) {
    if (items == 0) return;
    PartGroup(std::min<size_t>(workers ? workers : CoreCount(), items)).runItems(items, item);
}

PartGroup::PartGroup(size_t parts) : parts_(parts ? parts : CoreCount()) {
    threads_.reserve(parts_ - 1);
    for (size_t i = 1; i < parts_; ++i) {
        std::thread t;
        const bool started = StartThread(t, [this, i] {
            uint64_t seen = 0;
            for (;;) {
                const std::function<void(size_t)>* job;
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    start_.wait(lock, [&] { return stop_ || round_ != seen; });
                    if (stop_) return;
                    seen = round_;
                    job = job_;
                }
                runGuarded(*job, i);
                std::lock_guard<std::mutex> lock(mutex_);
                if (--busy_ == 0) finished_.notify_all();
            }
        });
        if (started)
            threads_.push_back(std::move(t));
        else
            onCaller_.push_back(i);
    }
}

PartGroup::~PartGroup() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    start_.notify_all();
    for (auto& t : threads_) t.join();
}

void PartGroup::runGuarded(const std::function<void(size_t)>& part, size_t index) {
    try {
        part(index);
    } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!error_) error_ = std::current_exception();
    }
}

void PartGroup::run(const std::function<void(size_t)>& part) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = &part;
        error_ = nullptr;
        busy_ = threads_.size();
        ++round_;
    }
    start_.notify_all();
    runGuarded(part, 0);
    for (size_t i : onCaller_) runGuarded(part, i);
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait(lock, [&] { return busy_ == 0; });
        job_ = nullptr;
        error = error_;
    }
    if (error) std::rethrow_exception(error);
}

void PartGroup::runItems(size_t items, const std::function<void(size_t, size_t)>& item) {
    if (items == 0) return;
    std::atomic<size_t> next{0};
    run([&](size_t part) {
        for (size_t i = next.fetch_add(1); i < items; i = next.fetch_add(1)) {
            try {
                item(i, part);
            } catch (...) {
                next.store(items);
                throw;
            }
        }
    });
}

size_t WorkerGroup::start(size_t count, const std::function<void()>& body) {
    size_t started = 0;
    for (size_t i = 0; i < count; ++i) {
        std::thread t;
        if (!StartThread(t, body)) break;
        threads_.push_back(std::move(t));
        ++started;
    }
    return started;
}

void WorkerGroup::join() {
    for (auto& t : threads_)
        if (t.joinable()) t.join();
    threads_.clear();
}

}  // namespace notavox
