// Makes thread creation fail while it lives, as a process limit would: the
// first `allowed` threads still start, every later one throws.
#pragma once

#include <atomic>
#include <cerrno>
#include <system_error>

#include "audio/Parallel.h"

namespace notavox::testing {

class NoThreads {
public:
    explicit NoThreads(int allowed = 0) {
        left() = allowed;
        started() = 0;
        previous_ = SetThreadStarter(&start);
    }
    ~NoThreads() { SetThreadStarter(previous_); }
    NoThreads(const NoThreads&) = delete;
    NoThreads& operator=(const NoThreads&) = delete;

    // Threads started while it lived.
    static int startedCount() { return started(); }

private:
    static std::atomic<int>& left() {
        static std::atomic<int> n{0};
        return n;
    }
    static std::atomic<int>& started() {
        static std::atomic<int> n{0};
        return n;
    }
    static std::thread start(std::function<void()> body) {
        if (left().fetch_sub(1) <= 0) throw std::system_error(EAGAIN, std::generic_category(), "no thread");
        ++started();
        return std::thread(std::move(body));
    }

    ThreadStarter previous_ = nullptr;
};

}  // namespace notavox::testing
