#include "audio/SafeFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

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
        if (w == 0) {
            errno = ENOSPC;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

void splitPath(const std::string& path, std::string& dir, std::string& base) {
    dir = ".";
    base = path;
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
        dir = slash == 0 ? "/" : path.substr(0, slash);
        base = path.substr(slash + 1);
    }
}

std::string joinPath(const std::string& dir, const std::string& name) {
    return (dir == "/" ? std::string("/") : dir + "/") + name;
}

// Follows symbolic links to the name that is finally written; a link to a
// file that does not exist yet gives that file's name.
bool resolveLinks(std::string& path) {
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n <= 0) return false;
        target[n] = '\0';
        if (target[0] == '/') {
            path = target;
        } else {
            std::string dir, base;
            splitPath(path, dir, base);
            path = joinPath(dir, target);
        }
    }
    errno = ELOOP;
    return false;
}

void syncFolder(const std::string& dir) {
    const int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d >= 0) {
        ::fsync(d);
        ::close(d);
    }
}

// Reserves the blocks of [0, size) without changing the file's size; the
// errno of a failure (EOPNOTSUPP where the file system cannot).
int reserveBlocks(int fd, off_t size) {
    while (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

std::string hiddenName(const std::string& dir, const std::string& base) {
    static std::atomic<unsigned> counter{0};
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".%d.%u", int(::getpid()), counter.fetch_add(1));
    return joinPath(dir, "." + base + suffix);
}
}  // namespace

InputFile::InputFile(const std::string& path) {
    // O_NONBLOCK: a named pipe without a writer or a device must not keep the
    // open waiting; such files are refused below anyway.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        systemError_ = errno;
        // ENXIO / EWOULDBLOCK come from a device or a pipe that will not open
        // without blocking: not a regular file either way.
        notRegular_ = errno == ENXIO || errno == EWOULDBLOCK;
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        systemError_ = errno;
        ::close(fd);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        notRegular_ = true;
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
    while (fd_ >= 0 && got < n) {
        const ssize_t r = ::pread(fd_, p + got, n - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    return got;
}

std::string SaveErrorText(int error) {
    switch (error) {
        case 0:
            return std::string();
        case ENAMETOOLONG:
            return "Der Dateiname ist zu lang.";
        case ENOSPC:
        case EDQUOT:
            return "Der Datenträger ist voll.";
        case EFBIG:
            return "Die Datei ist zu groß für den Datenträger.";
        case EROFS:
            return "Der Datenträger ist schreibgeschützt.";
        case ENXIO:
            return "Niemand liest von diesem Gerät.";
        case EPIPE:
            return "Niemand liest mehr von dieser Pipe.";
        case EACCES:
        case EPERM:
            return "Keine Schreibberechtigung.";
        case ENOENT:
            return "Den Ordner gibt es nicht.";
        case ENOTDIR:
            return "Ein Teil des Pfads ist kein Ordner.";
        case EISDIR:
            return "Unter diesem Namen gibt es einen Ordner.";
        case ELOOP:
            return "Zu viele symbolische Verknüpfungen.";
        case EIO:
            return "Der Datenträger meldet einen Schreibfehler.";
        case EMFILE:
        case ENFILE:
            return "Zu viele offene Dateien.";
        case ENOMEM:
            return "Nicht genug Speicher.";
        case ETXTBSY:
        case EBUSY:
            return "Die Datei ist gerade in Benutzung.";
        default:
            return "Systemfehler " + std::to_string(error) + ".";
    }
}

SafeFile::~SafeFile() { discard(); }

bool SafeFile::fail(int err) {
    if (error_ == 0) error_ = err;
    failed_ = true;
    return false;
}

bool SafeFile::open(const std::string& path) {
    discard();
    error_ = 0;
    mode_ = Mode::Replace;
    unnamed_ = false;
    if (path.empty()) return fail(ENOENT);
    path_ = path;
    if (!resolveLinks(path_)) return fail(errno);
    splitPath(path_, dir_, base_);
    if (base_.empty()) return fail(EISDIR);
    if (path_.size() >= PATH_MAX) return fail(ENAMETOOLONG);
    const long nameMax = ::pathconf(dir_.c_str(), _PC_NAME_MAX);
    if (nameMax > 0 && base_.size() > size_t(nameMax)) return fail(ENAMETOOLONG);

    struct stat st {};
    const bool exists = ::stat(path_.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return fail(EISDIR);
    if (exists && !S_ISREG(st.st_mode)) {
        // A device or pipe: its name stays what it is, the bytes go into it.
        // Opening never waits for a reader.
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd_ < 0) return fail(errno);
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        mode_ = Mode::Direct;
    } else {
        if (exists && st.st_nlink > 1) mode_ = Mode::InPlace;
        fd_ = ::open(dir_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd_ >= 0 && ::access("/proc/self/fd", X_OK) == 0) {
            unnamed_ = true;
        } else {
            if (fd_ >= 0) ::close(fd_);
            // The file system has no unnamed files: a hidden name beside the
            // destination, removed by an interrupt.
            std::string tmpl = joinPath(dir_, "." + base_ + ".XXXXXX");
            if (tmpl.size() >= PATH_MAX) return fail(ENAMETOOLONG);
            fd_ = ::mkostemp(tmpl.data(), O_CLOEXEC);
            if (fd_ < 0) return fail(errno);
            tempPath_ = tmpl;
            guard_.set(tempPath_);
        }
        // A new file gets the usual permissions; a replaced file keeps its own.
        mode_t mode;
        if (exists) {
            mode = st.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        ::fchmod(fd_, mode);
    }
    failed_ = false;
    buffer_.clear();
    buffer_.reserve(kBufferSize);
    return true;
}

bool SafeFile::flush() {
    if (!buffer_.empty()) {
        if (!writeAll(fd_, buffer_.data(), buffer_.size())) fail(errno);
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
        if (!writeAll(fd_, p, size)) return fail(errno);
        return true;
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
        if (w <= 0) return fail(w < 0 ? errno : ENOSPC);
        p += w;
        offset += static_cast<uint64_t>(w);
        size -= static_cast<size_t>(w);
    }
    return true;
}

// Gives the complete temporary file the destination's name.
bool SafeFile::publish() {
    if (!unnamed_) {
        if (::rename(tempPath_.c_str(), path_.c_str()) != 0) return fail(errno);
        guard_.clear();
        tempPath_.clear();
        return true;
    }
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
    if (::linkat(AT_FDCWD, self, AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != EEXIST) return fail(errno);
    // The destination exists: a hidden name first, then one rename over it.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string hidden = hiddenName(dir_, base_);
        guard_.set(hidden);
        if (::linkat(AT_FDCWD, self, AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            guard_.clear();
            if (errno == EEXIST) continue;
            return fail(errno);
        }
        if (::rename(hidden.c_str(), path_.c_str()) != 0) {
            const int err = errno;
            ::unlink(hidden.c_str());
            guard_.clear();
            return fail(err);
        }
        guard_.clear();
        return true;
    }
    return fail(EEXIST);
}

// Writes the complete copy over the contents of the destination itself, so
// that every hard link to it sees the new file. Nothing of the destination
// changes before the room for the new contents is reserved on the disk
// (the only failure left after that is a fault of the device), and the
// termination signals wait until the copy is complete.
bool SafeFile::copyIntoDestination() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return fail(errno);
    const off_t size = st.st_size;
    const int out = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (out < 0) return fail(errno);
    struct stat old {};
    if (::fstat(out, &old) != 0) {
        const int err = errno;
        ::close(out);
        return fail(err);
    }
    // From here on the destination may change: the termination signals
    // wait until it holds the old or the complete new contents again.
    InterruptDeferral wait;
    // Room first: blocks reserved beyond the old end without changing the
    // size the other names see; where the file system cannot do that, the
    // file grows to the new size (and goes back if even that fails).
    int err = size > 0 ? reserveBlocks(out, size) : 0;
    if (err == EOPNOTSUPP || err == ENOSYS) err = ::posix_fallocate(out, 0, size);
    if (err != 0) {
        // Back to the old size, which also frees what was reserved beyond it.
        while (::ftruncate(out, old.st_size) != 0 && errno == EINTR) {
        }
        ::close(out);
        return fail(err);
    }
    std::string chunk(kBufferSize, '\0');
    off_t pos = 0;
    bool good = true;
    while (good && pos < size) {
        const ssize_t r = ::pread(fd_, chunk.data(), chunk.size(), pos);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            good = fail(r < 0 ? errno : EIO);
            break;
        }
        size_t done = 0;
        while (good && done < size_t(r)) {
            const ssize_t w = ::pwrite(out, chunk.data() + done, size_t(r) - done, pos + off_t(done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) good = fail(w < 0 ? errno : ENOSPC);
            else done += size_t(w);
        }
        pos += r;
    }
    if (good) {
        int rc;
        while ((rc = ::ftruncate(out, size)) != 0 && errno == EINTR) {
        }
        if (rc != 0) good = fail(errno);
    }
    if (good && ::fsync(out) != 0) good = fail(errno);
    if (::close(out) != 0 && good) good = fail(errno);
    return good;
}

bool SafeFile::commit() {
    if (!ok()) {
        discard();
        return false;
    }
    bool good = flush();
    if (mode_ == Mode::Direct) {
        // Devices and pipes may not sync; that is no failure.
        if (good && ::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP) good = fail(errno);
        if (::close(fd_) != 0 && good) good = fail(errno);
        fd_ = -1;
        return good;
    }
    if (good && ::fsync(fd_) != 0) good = fail(errno);
    if (good) good = mode_ == Mode::InPlace ? copyIntoDestination() : publish();
    if (good) syncFolder(dir_);
    const int err = error_;
    discard();
    error_ = err;
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
    guard_.clear();
    buffer_.clear();
    failed_ = false;
}

}  // namespace notavox
