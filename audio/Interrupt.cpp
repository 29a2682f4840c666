#include "audio/Interrupt.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace notavox {

namespace {

// A fixed table, so that the signal handler touches no allocator and no lock.
constexpr int kSlots = 256;
constexpr size_t kPathSize = 4096;

struct Slot {
    std::atomic<int> state{0};  // 0 free, 1 being written, 2 holds a path
    char path[kPathSize];
};

Slot slots[kSlots];

// Deferrals alive, and the signal that came meanwhile (0: none).
std::atomic<int> deferrals{0};
std::atomic<int> pending{0};

void endThrough(int sig) {
    for (Slot& s : slots) {
        if (s.state.load(std::memory_order_acquire) == 2) ::unlink(s.path);
    }
    // End through the signal itself: the default action.
    std::signal(sig, SIG_DFL);
    ::raise(sig);
}

void onInterrupt(int sig) {
    // Noted first, counted second: a deferral that ends in between sees
    // the note and ends the program itself.
    pending.store(sig);
    if (deferrals.load() > 0) return;
    endThrough(sig);
}

}  // namespace

void InstallInterruptCleanup() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction old {};
            ::sigaction(sig, nullptr, &old);
            if (old.sa_handler == SIG_IGN) continue;  // nohup and friends
            struct sigaction sa {};
            sa.sa_handler = onInterrupt;
            sa.sa_flags = SA_RESTART;  // a deferred signal does not break the calls it came in
            sigemptyset(&sa.sa_mask);
            sigaddset(&sa.sa_mask, SIGINT);
            sigaddset(&sa.sa_mask, SIGTERM);
            sigaddset(&sa.sa_mask, SIGHUP);
            ::sigaction(sig, &sa, nullptr);
        }
    });
}

InterruptDeferral::InterruptDeferral() {
    InstallInterruptCleanup();
    deferrals.fetch_add(1);
}

InterruptDeferral::~InterruptDeferral() {
    if (deferrals.fetch_sub(1) == 1) {
        if (const int sig = pending.load()) endThrough(sig);
    }
}

void TempFileGuard::set(const std::string& path) {
    clear();
    if (path.empty() || path.size() >= kPathSize) return;
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (slots[i].state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
            std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
            slots[i].state.store(2, std::memory_order_release);
            slot_ = i;
            return;
        }
    }
}

void TempFileGuard::clear() {
    if (slot_ >= 0) {
        slots[slot_].state.store(0, std::memory_order_release);
        slot_ = -1;
    }
}

}  // namespace notavox
