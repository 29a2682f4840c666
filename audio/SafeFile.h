// Reading and writing files. SafeFile writes a file without ever destroying
// the one it replaces: the bytes go to a new file in the destination's folder,
// which is moved over the destination only once everything was written. A
// failed or abandoned write leaves the old file untouched and no partial file
// behind. InputFile reads a regular file at given offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace notavox {

// A regular file opened for reading; a folder, device, pipe or socket is
// refused. Every read names its offset, so several threads may read at once.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    uint64_t size() const { return size_; }
    // Reads up to n bytes at offset; returns how many there were (fewer at
    // the end of the file or on an error).
    size_t read(uint64_t offset, void* dst, size_t n) const;
    // Reads exactly n bytes at offset.
    bool readAll(uint64_t offset, void* dst, size_t n) const { return read(offset, dst, n) == n; }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

class SafeFile {
public:
    SafeFile() = default;
    ~SafeFile();  // discards an uncommitted file
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Creates the new file beside `path`. False when the folder cannot take it.
    bool open(const std::string& path);
    // Buffered write; false once any write has failed.
    bool write(const void* data, size_t size);
    // Overwrites bytes already written (a header completed at the end).
    bool writeAt(uint64_t offset, const void* data, size_t size);
    bool ok() const { return fd_ >= 0 && !failed_; }
    // Flushes, closes and moves the new file over the destination.
    bool commit();
    // Closes and removes the new file; the destination stays as it was.
    void discard();

private:
    bool flush();
    int fd_ = -1;
    bool failed_ = false;
    std::string path_;
    std::string tempPath_;
    std::string buffer_;
};

}  // namespace notavox
