// A small file system of its own for a test: a tmpfs of a given size in a
// user and mount namespace of a child process, so that no privileges are
// needed and nothing outside sees it. For tests of a full disk.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <functional>
#include <string>

namespace notavox::testing {

// The child's status when the system allows no such namespaces.
constexpr int kNoSmallFileSystem = 77;

// Runs `body` in a child process that sees a fresh, empty file system of
// `bytes` at the folder `dir` (which must exist) and returns the child's exit
// status (its `body`'s result); kNoSmallFileSystem when that cannot be made.
inline int InSmallFileSystem(const std::string& dir, size_t bytes, const std::function<int()>& body) {
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) ::_exit(kNoSmallFileSystem);
        auto write = [](const char* path, const std::string& text) {
            const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
            if (fd < 0) return;
            (void)!::write(fd, text.data(), text.size());
            ::close(fd);
        };
        write("/proc/self/setgroups", "deny");
        write("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        write("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
        const std::string size = "size=" + std::to_string(bytes);
        if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, size.c_str()) != 0) ::_exit(kNoSmallFileSystem);
        ::_exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace notavox::testing
