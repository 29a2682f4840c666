// Files that must not outlive an interrupted program. Ctrl+C, SIGTERM and
// SIGHUP remove every file registered here and then end the program through
// the same signal, so that its exit status says it was interrupted.
#pragma once

#include <string>

namespace notavox {

// Installs the handlers for SIGINT, SIGTERM and SIGHUP (once; later calls do
// nothing). A signal that was ignored when the program started stays ignored.
void InstallInterruptCleanup();

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
