#include "audio/WavFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <system_error>
#include "audio/Parallel.h"
#include <vector>

#include "audio/ByteOrder.h"
#include "audio/SafeFile.h"

namespace notavox {

namespace {

// Reads exactly n bytes at offset; a big read is split over the cores, each
// copying its own part of the file into its part of the block.
bool readInParts(const InputFile& file, uint64_t offset, uint8_t* dst, size_t n) {
    constexpr size_t kLeastPart = size_t(64) << 20;
    const size_t parts = std::min<size_t>({n / kLeastPart, CoreCount(), 4});
    if (parts <= 1) return file.readAll(offset, dst, n);
    const size_t step = (n / parts) & ~size_t(4095);
    std::vector<char> ok(parts, 0);
    RunInParts(parts, [&](size_t i) {
        const size_t from = i * step;
        const size_t length = i + 1 == parts ? n - from : step;
        ok[i] = file.readAll(offset + from, dst + from, length);
    });
    return std::all_of(ok.begin(), ok.end(), [](char c) { return c != 0; });
}

struct Chunk {
    uint32_t id = 0;
    uint32_t size = 0;
    uint64_t dataOffset = 0;
};

constexpr uint32_t fourcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

// Walks the chunks from `pos` up to `end` and finds the first with the
// identifier `id` (and, for RIFF, the form type `form`). Chunks are skipped
// with their pad byte.
bool findChunk(const InputFile& file, uint64_t pos, uint64_t end, uint32_t id, uint32_t form, Chunk& found) {
    while (pos + 8 <= end) {
        uint8_t head[12];
        if (!file.readAll(pos, head, 8)) return false;
        Chunk c{GetLE32(head), GetLE32(head + 4), pos + 8};
        if (c.id == id) {
            if (form == 0) {
                found = c;
                return true;
            }
            if (c.size >= 4 && pos + 12 <= end && file.readAll(pos + 8, head + 8, 4) && GetLE32(head + 8) == form) {
                found = c;
                return true;
            }
        }
        pos = c.dataOffset + c.size + (c.size & 1u);
    }
    return false;
}

}  // namespace

bool ReadWAVFile(const std::string& fileName, WavData& out) {
    out = WavData();
    const InputFile file(fileName);
    if (!file.isOpen()) return false;
    const uint64_t fileSize = file.size();

    Chunk riff;
    if (!findChunk(file, 0, fileSize, fourcc("RIFF"), fourcc("WAVE"), riff)) return false;
    const uint64_t riffEnd = std::min<uint64_t>(riff.dataOffset + riff.size, fileSize);
    Chunk fmt;
    if (!findChunk(file, riff.dataOffset + 4, riffEnd, fourcc("fmt "), 0, fmt)) return false;
    if (fmt.size < 16) return false;
    uint8_t rec[16];
    if (!file.readAll(fmt.dataOffset, rec, 16)) return false;
    const uint16_t tag = GetLE16(rec);
    const uint16_t channels = GetLE16(rec + 2);
    const uint32_t rate = GetLE32(rec + 4);
    const uint16_t bits = GetLE16(rec + 14);
    if (tag != 1 || (channels != 1 && channels != 2) || (bits != 8 && bits != 16)) return false;

    Chunk data;
    const uint64_t afterFmt = fmt.dataOffset + fmt.size + (fmt.size & 1u);
    if (!findChunk(file, afterFmt, riffEnd, fourcc("data"), 0, data)) return false;
    // Refuse before allocating: an empty chunk, one too big for the byte
    // count, or one that claims more bytes than the file holds.
    if (data.size == 0 || data.size > 2147483647u || data.dataOffset + data.size > fileSize) return false;

    SampleBlock block = allocateBlock(data.size);
    if (!block) return false;
    if (!readInParts(file, data.dataOffset, block.get(), data.size)) return false;

    out.block = std::move(block);
    out.byteCount = static_cast<int32_t>(data.size);
    out.sampleRate = static_cast<int32_t>(rate);
    out.sixteenBit = bits == 16;
    out.stereo = channels == 2;
    return true;
}

void MakeWAVHeader(uint8_t h[44], bool stereo, bool sixteenBit, int32_t sampleRate, int32_t byteCount) {
    const uint32_t count = static_cast<uint32_t>(byteCount);
    const uint32_t pad = count & 1u;
    const uint16_t channels = stereo ? 2 : 1;
    const uint16_t blockAlign = static_cast<uint16_t>(channels * (sixteenBit ? 2 : 1));
    std::memcpy(h, "RIFF", 4);
    PutLE32(h + 4, 36u + count + pad);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLE32(h + 16, 16);
    PutLE16(h + 20, 1);
    PutLE16(h + 22, channels);
    PutLE32(h + 24, static_cast<uint32_t>(sampleRate));
    PutLE32(h + 28, static_cast<uint32_t>(sampleRate) * blockAlign);
    PutLE16(h + 32, blockAlign);
    PutLE16(h + 34, sixteenBit ? 16 : 8);
    std::memcpy(h + 36, "data", 4);
    PutLE32(h + 40, count);
}

bool WriteWAVFile(const std::string& fileName, const uint8_t* sampleData, bool stereo, bool sixteenBit,
                  int32_t sampleRate, int32_t byteCount) {
    if (byteCount < 0 || (byteCount > 0 && sampleData == nullptr)) return false;
    uint8_t header[44];
    MakeWAVHeader(header, stereo, sixteenBit, sampleRate, byteCount);
    SafeFile file;
    if (!file.open(fileName)) return false;
    file.write(header, sizeof header);
    if (byteCount > 0) file.write(sampleData, static_cast<size_t>(byteCount));
    if (byteCount & 1) {
        const uint8_t zero = 0;
        file.write(&zero, 1);
    }
    return file.commit();
}

std::string TempFolder() {
    const char* env = std::getenv("TMPDIR");
    std::string dir = (env && *env) ? env : "/tmp";
    if (dir.back() != '/') dir += '/';
    return dir;
}

std::string MakeTempFileName(const std::string& prefix, const std::string& extension) {
    const std::string dir = TempFolder();
    for (unsigned long n = 0; n < 1000000ul; ++n) {
        std::string name = dir + prefix + std::to_string(n) + extension;
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            ::close(fd);
            return name;
        }
        if (errno != EEXIST) return std::string();
    }
    return std::string();
}

}  // namespace notavox
