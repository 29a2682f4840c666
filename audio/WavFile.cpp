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
#include "audio/MemoryBudget.h"
#include "audio/SafeFile.h"
#include "audio/SampleFormat.h"

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

}  // namespace

bool FindRiffChunk(const InputFile& file, uint64_t pos, uint64_t end, uint32_t id, uint32_t form, RiffChunk& found) {
    while (pos + 8 <= end) {
        uint8_t head[12];
        if (!file.readAll(pos, head, 8)) return false;
        RiffChunk c{GetLE32(head), GetLE32(head + 4), pos + 8};
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

bool ReadWAVFile(const std::string& fileName, WavData& out, WavReadFailure* why) {
    out = WavData();
    WavReadFailure local;
    WavReadFailure& f = why ? *why : local;
    f = WavReadFailure();
    auto failed = [&f](WavReadError e) {
        f.error = e;
        return false;
    };
    const InputFile file(fileName);
    if (!file.isOpen()) {
        f.systemError = file.systemError();
        return failed(file.notRegular() ? WavReadError::NotRegular : WavReadError::CannotOpen);
    }
    const uint64_t fileSize = file.size();

    RiffChunk riff;
    if (!FindRiffChunk(file, 0, fileSize, FourCC("RIFF"), FourCC("WAVE"), riff)) return failed(WavReadError::NotWav);
    const uint64_t riffEnd = std::min<uint64_t>(riff.dataOffset + riff.size, fileSize);
    RiffChunk fmt;
    if (!FindRiffChunk(file, riff.dataOffset + 4, riffEnd, FourCC("fmt "), 0, fmt)) return failed(WavReadError::NotWav);
    if (fmt.size < 16) return failed(WavReadError::NotWav);
    uint8_t rec[16];
    if (!file.readAll(fmt.dataOffset, rec, 16)) return failed(WavReadError::Truncated);
    const uint16_t tag = GetLE16(rec);
    const uint16_t channels = GetLE16(rec + 2);
    const uint32_t rate = GetLE32(rec + 4);
    const uint16_t bits = GetLE16(rec + 14);
    if (tag != 1 || (channels != 1 && channels != 2) || (bits != 8 && bits != 16)) {
        f.formatTag = tag;
        f.channels = channels;
        f.bits = bits;
        return failed(WavReadError::Unsupported);
    }
    if (!SampleRateSupported(rate)) {
        f.sampleRate = rate;
        return failed(WavReadError::UnsupportedRate);
    }

    RiffChunk data;
    const uint64_t afterFmt = fmt.dataOffset + fmt.size + (fmt.size & 1u);
    if (!FindRiffChunk(file, afterFmt, riffEnd, FourCC("data"), 0, data)) return failed(WavReadError::NotWav);
    // Refuse before allocating: an empty chunk, one too big for the byte
    // count, or one that claims more bytes than the file holds.
    if (data.size == 0) return failed(WavReadError::Empty);
    if (data.size > 2147483647u) return failed(WavReadError::TooLarge);
    if (data.dataOffset + data.size > fileSize) return failed(WavReadError::Truncated);

    MemoryReservation reservation(ProcessMemoryBudget(), data.size);
    if (!reservation.ok()) return failed(WavReadError::OutOfMemory);
    SampleBlock block = allocateBlock(data.size);
    if (!block) return failed(WavReadError::OutOfMemory);
    if (!readInParts(file, data.dataOffset, block.get(), data.size)) return failed(WavReadError::Truncated);

    out.block = std::move(block);
    out.byteCount = static_cast<int32_t>(data.size);
    out.sampleRate = static_cast<int32_t>(rate);
    out.sixteenBit = bits == 16;
    out.stereo = channels == 2;
    return true;
}

std::string WavReadErrorText(const WavReadFailure& why) {
    switch (why.error) {
        case WavReadError::None:
            return std::string();
        case WavReadError::CannotOpen:
            if (why.systemError == ENOENT) return "die Datei gibt es nicht";
            if (why.systemError == EACCES || why.systemError == EPERM) return "keine Berechtigung";
            return "die Datei kann nicht gelesen werden";
        case WavReadError::NotRegular:
            return "keine gewöhnliche Datei (Ordner, Pipe oder Gerät)";
        case WavReadError::NotWav:
            return "keine WAV-Datei";
        case WavReadError::Unsupported:
            if (why.formatTag == 3) return "nicht unterstütztes Format: Gleitkomma";
            if (why.formatTag != 1 && why.formatTag != 0xFFFE) return "nicht unterstütztes Format: kein PCM";
            if (why.bits != 8 && why.bits != 16)
                return "nicht unterstütztes Format: " + std::to_string(why.bits) + " Bit";
            if (why.channels != 1 && why.channels != 2)
                return "nicht unterstütztes Format: " + std::to_string(why.channels) + " Kanäle";
            return "nicht unterstütztes Format";
        case WavReadError::UnsupportedRate: {
            // The sentence of the analyses, as a cause after "...: ".
            std::string text = UnsupportedSampleRateText(why.sampleRate);
            text[0] = 'd';
            text.pop_back();
            return text;
        }
        case WavReadError::Empty:
            return "die Aufnahme ist leer";
        case WavReadError::Truncated:
            return "die Datei ist abgeschnitten";
        case WavReadError::TooLarge:
            return "die Aufnahme ist zu groß (über 2 GB)";
        case WavReadError::OutOfMemory:
            return "nicht genug Speicher";
    }
    return std::string();
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
                  int32_t sampleRate, int32_t byteCount, int* error) {
    if (error) *error = 0;
    if (byteCount < 0 || (byteCount > 0 && sampleData == nullptr)) return false;
    uint8_t header[44];
    MakeWAVHeader(header, stereo, sixteenBit, sampleRate, byteCount);
    SafeFile file;
    bool ok = file.open(fileName);
    if (ok) {
        file.write(header, sizeof header);
        if (byteCount > 0) file.write(sampleData, static_cast<size_t>(byteCount));
        if (byteCount & 1) {
            const uint8_t zero = 0;
            file.write(&zero, 1);
        }
        ok = file.commit();
    }
    if (!ok && error) *error = file.error();
    return ok;
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
