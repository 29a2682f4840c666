#include "audio/SafeFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace notavox {

namespace {
constexpr size_t kBufferSize = 1 << 20;

bool writeAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}
}  // namespace

InputFile::InputFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return;
    }
    fd_ = fd;
    size_ = static_cast<uint64_t>(st.st_size);
}

InputFile::~InputFile() {
    if (fd_ >= 0) ::close(fd_);
}

size_t InputFile::read(uint64_t offset, void* dst, size_t n) const {
    uint8_t* p = static_cast<uint8_t*>(dst);
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd_, p + got, n - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    return got;
}

SafeFile::~SafeFile() { discard(); }

bool SafeFile::open(const std::string& path) {
    discard();
    if (path.empty()) return false;
    path_ = path;
    std::string dir = ".";
    std::string base = path;
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
        dir = slash == 0 ? "/" : path.substr(0, slash);
        base = path.substr(slash + 1);
    }
    if (base.empty()) return false;
    // The destination must not be a folder: renaming over it would fail late.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return false;
    std::string tmpl = (dir == "/" ? std::string("/") : dir + "/") + "." + base + ".XXXXXX";
    fd_ = ::mkstemp(tmpl.data());
    if (fd_ < 0) return false;
    tempPath_ = tmpl;
    // A new file gets the usual permissions (mkstemp makes it private); a
    // replaced file keeps its own.
    mode_t mode;
    if (::stat(path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd_, mode);
    failed_ = false;
    buffer_.clear();
    buffer_.reserve(kBufferSize);
    return true;
}

bool SafeFile::flush() {
    if (!buffer_.empty()) {
        if (!writeAll(fd_, buffer_.data(), buffer_.size())) failed_ = true;
        buffer_.clear();
    }
    return !failed_;
}

bool SafeFile::write(const void* data, size_t size) {
    if (!ok()) return false;
    const char* p = static_cast<const char*>(data);
    if (buffer_.size() + size <= kBufferSize) {
        buffer_.append(p, size);
        return true;
    }
    if (!flush()) return false;
    if (size >= kBufferSize) {
        if (!writeAll(fd_, p, size)) failed_ = true;
        return !failed_;
    }
    buffer_.append(p, size);
    return true;
}

bool SafeFile::writeAt(uint64_t offset, const void* data, size_t size) {
    if (!ok() || !flush()) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t w = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            failed_ = true;
            return false;
        }
        p += w;
        offset += static_cast<uint64_t>(w);
        size -= static_cast<size_t>(w);
    }
    return true;
}

bool SafeFile::commit() {
    if (!ok()) {
        discard();
        return false;
    }
    bool good = flush();
    if (::close(fd_) != 0) good = false;
    fd_ = -1;
    if (good && ::rename(tempPath_.c_str(), path_.c_str()) != 0) good = false;
    if (!good) {
        ::unlink(tempPath_.c_str());
    }
    tempPath_.clear();
    return good;
}

void SafeFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
    buffer_.clear();
    failed_ = false;
}

}  // namespace notavox
