// Reading and writing files. InputFile reads a regular file at given
// offsets; anything else (a folder, pipe, device or socket) is refused at
// once, without waiting for a writer or a device.
//
// SafeFile writes a file without ever destroying the one it replaces: the
// bytes go to a new file in the destination's folder that has no name until
// everything was written and synced (or, where the file system cannot do
// that, a hidden named file that an interrupt removes); only then does it take
// the destination's name. A failed, abandoned or interrupted write leaves the
// old file untouched and no partial file behind.
//
// What the name stands for is kept: a symbolic link keeps pointing to the
// file it names, which is the one replaced; a device or pipe is written into
// directly; a file with further hard links is rewritten in place once the
// complete copy exists, so every link sees the new contents (the names are
// one file to the user, and a rename would quietly leave the other names
// with the old one). That rewrite starts only once the disk has room for
// all of it, and Ctrl+C, SIGTERM and SIGHUP wait until it is done, so that
// neither a full disk nor an interrupt leaves a cut file under any name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "audio/Interrupt.h"

namespace notavox {

// A regular file opened for reading; a folder, device, pipe or socket is
// refused. The open never blocks (a named pipe without a writer, a device),
// and a refused file says why. Every read names its offset, so several
// threads may read at once.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // Why the file was refused: not a regular file (folder, pipe, device,
    // socket), or the open failed with systemError() (ENOENT, EACCES, ...).
    bool notRegular() const { return notRegular_; }
    int systemError() const { return systemError_; }
    uint64_t size() const { return size_; }
    // Reads up to n bytes at offset; returns how many there were (fewer at
    // the end of the file or on an error).
    size_t read(uint64_t offset, void* dst, size_t n) const;
    // Reads exactly n bytes at offset.
    bool readAll(uint64_t offset, void* dst, size_t n) const { return read(offset, dst, n) == n; }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
    bool notRegular_ = false;
    int systemError_ = 0;
};

class SafeFile {
public:
    SafeFile() = default;
    ~SafeFile();  // discards an uncommitted file
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Creates the new file for `path`. False when the folder cannot take it;
    // error() says why.
    bool open(const std::string& path);
    // Buffered write; false once any write has failed.
    bool write(const void* data, size_t size);
    // Overwrites bytes already written (a header completed at the end).
    bool writeAt(uint64_t offset, const void* data, size_t size);
    bool ok() const { return fd_ >= 0 && !failed_; }
    // Flushes, syncs the file and its folder and gives it the destination's
    // name.
    bool commit();
    // Closes and removes the new file; the destination stays as it was.
    void discard();
    // The errno of the first failure (0: none). ENAMETOOLONG for a name the
    // file system cannot hold, EISDIR for a folder.
    int error() const { return error_; }

private:
    enum class Mode { Replace, InPlace, Direct };
    bool flush();
    bool fail(int err);
    bool publish();
    bool copyIntoDestination();
    int fd_ = -1;
    bool failed_ = false;
    int error_ = 0;
    Mode mode_ = Mode::Replace;
    bool unnamed_ = false;
    std::string path_;      // the file that is replaced (links resolved)
    std::string dir_;
    std::string base_;
    std::string tempPath_;  // the named temporary file, when there is one
    TempFileGuard guard_;
    std::string buffer_;
};

// The German cause of a failed save, for its message: "Der Datenträger ist
// voll.", "Keine Schreibberechtigung." and the like for the errno of a
// SafeFile (any errno has one); empty for 0.
std::string SaveErrorText(int error);

}  // namespace notavox
