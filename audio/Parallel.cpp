#include "audio/Parallel.h"

#include <algorithm>
#include <atomic>
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
    std::vector<std::thread> helpers;
    std::vector<size_t> leftOver;
    helpers.reserve(parts - 1);
    for (size_t i = 1; i < parts; ++i) {
        std::thread t;
        if (StartThread(t, [&part, i] { part(i); }))
            helpers.push_back(std::move(t));
        else
            leftOver.push_back(i);
    }
    part(0);
    for (size_t i : leftOver) part(i);
    for (auto& h : helpers) h.join();
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
