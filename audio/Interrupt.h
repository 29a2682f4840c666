// Files that must not outlive an interrupted program. Ctrl+C, SIGTERM and
// SIGHUP remove every file registered here and then end the program through
// the same signal, so that its exit status says it was interrupted.
#pragma once

#include <string>

namespace notavox {

// Installs the handlers for SIGINT, SIGTERM and SIGHUP (once; later calls do
// nothing). A signal that was ignored when the program started stays ignored.
void InstallInterruptCleanup();

// While one of these lives, Ctrl+C, SIGTERM and SIGHUP wait: the handler
// notes the signal and returns, and the last deferral to end lets it end the
// program then (removing the registered files as usual). For the few
// moments in which a file must not be left half written. Installs the
// handlers when that was not done yet; SIGKILL cannot wait.
class InterruptDeferral {
public:
    InterruptDeferral();
    ~InterruptDeferral();
    InterruptDeferral(const InterruptDeferral&) = delete;
    InterruptDeferral& operator=(const InterruptDeferral&) = delete;
};

// A file that is removed when the program is interrupted while the guard
// lives. The guard itself does not remove the file.
class TempFileGuard {
public:
    TempFileGuard() = default;
    explicit TempFileGuard(const std::string& path) { set(path); }
    ~TempFileGuard() { clear(); }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;

    void set(const std::string& path);
    void clear();

private:
    int slot_ = -1;
};

}  // namespace notavox
