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
    std::mutex errorLock;
    std::exception_ptr error;
    auto guarded = [&](size_t i) {
        try {
            part(i);
        } catch (...) {
            std::lock_guard<std::mutex> lock(errorLock);
            if (!error) error = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    std::vector<size_t> leftOver;
    helpers.reserve(parts - 1);
    for (size_t i = 1; i < parts; ++i) {
        std::thread t;
        if (StartThread(t, [&guarded, i] { guarded(i); }))
            helpers.push_back(std::move(t));
        else
            leftOver.push_back(i);
    }
    guarded(0);
    for (size_t i : leftOver) guarded(i);
    for (auto& h : helpers) h.join();
    if (error) std::rethrow_exception(error);
}

void RunItems(size_t items, unsigned workers, const std::function<void(size_t, size_t)>& item) {
    if (workers == 0) workers = CoreCount();
    std::atomic<size_t> next{0};
    RunInParts(std::min<size_t>(workers, items), [&](size_t part) {
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
