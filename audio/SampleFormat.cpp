#include "audio/SampleFormat.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

namespace notavox {

int64_t ConvertedByteCount(const AudioDocument& doc, const SampleFormatTarget& target) {
    if (doc.sampleRate <= 0 || target.sampleRate <= 0) return -1;
    int64_t b = doc.byteCount;
    if (target.sixteenBit && !doc.sixteenBit) b *= 2;
    if (!target.sixteenBit && doc.sixteenBit) b /= 2;
    if (target.stereo && !doc.stereo) b *= 2;
    if (!target.stereo && doc.stereo) b /= 2;
    return b * target.sampleRate / doc.sampleRate;
}

namespace {

// Format codes: bit 0 stereo, bit 1 16-bit.
template <int Fmt>
inline void readFrame(const uint8_t* p, int32_t& l, int32_t& r) {
    if constexpr (Fmt == 3) {
        int16_t a, b;
        std::memcpy(&a, p, 2);
        std::memcpy(&b, p + 2, 2);
        l = a;
        r = b;
    } else if constexpr (Fmt == 2) {
        int16_t a;
        std::memcpy(&a, p, 2);
        l = r = a;
    } else if constexpr (Fmt == 1) {
        l = (p[0] - 128) * 256;
        r = (p[1] - 128) * 256;
    } else {
        l = r = (p[0] - 128) * 256;
    }
}

inline uint8_t high8(int32_t s) { return static_cast<uint8_t>((s >> 8) + 128); }

template <int Fmt>
inline void writeFrame(uint8_t* p, int32_t l, int32_t r) {
    if constexpr (Fmt == 3) {
        const int16_t a = int16_t(l), b = int16_t(r);
        std::memcpy(p, &a, 2);
        std::memcpy(p + 2, &b, 2);
    } else if constexpr (Fmt == 2) {
        const int16_t a = int16_t(l);
        std::memcpy(p, &a, 2);
    } else if constexpr (Fmt == 1) {
        p[0] = high8(l);
        p[1] = high8(r);
    } else {
        (void)r;
        p[0] = high8(l);
    }
}

constexpr int bytesOf(int fmt) { return ((fmt & 2) ? 2 : 1) * ((fmt & 1) ? 2 : 1); }

// New frame k takes old frame (k * P) / Q. The quotient is stepped instead of
// divided: s grows by P / Q per frame and by one more whenever the running
// remainder reaches Q. Bytes after the last whole old frame (an odd byte
// count) can make the new recording reach one frame past the old one; those
// new frames repeat the last whole frame, or are silent when there is none.
template <int Src, int Dst>
void convertFrames(const uint8_t* src, int64_t oldFrames, uint8_t* dst, int64_t begin, int64_t end, int64_t inside,
                   int64_t p, int64_t q) {
    constexpr int v = bytesOf(Src);
    constexpr int u = bytesOf(Dst);
    const int64_t step = p / q;
    const int64_t extra = p % q;
    int64_t s = begin * p / q;  // once per part, not per frame
    int64_t rem = begin * p % q;
    int32_t l = 0, r = 0;
    int64_t k = begin;
    for (const int64_t stop = std::min(end, inside); k < stop; ++k) {
        readFrame<Src>(src + s * v, l, r);
        writeFrame<Dst>(dst + k * u, l, r);
        s += step;
        rem += extra;
        if (rem >= q) {
            rem -= q;
            ++s;
        }
    }
    if (k < end) {
        l = r = 0;
        if (oldFrames > 0) readFrame<Src>(src + (oldFrames - 1) * v, l, r);
    }
    for (; k < end; ++k) writeFrame<Dst>(dst + k * u, l, r);
}

template <int Src>
void convertFrom(int dst, const uint8_t* s, int64_t oldFrames, uint8_t* d, int64_t begin, int64_t end,
                 int64_t inside, int64_t p, int64_t q) {
    switch (dst) {
        case 0: convertFrames<Src, 0>(s, oldFrames, d, begin, end, inside, p, q); break;
        case 1: convertFrames<Src, 1>(s, oldFrames, d, begin, end, inside, p, q); break;
        case 2: convertFrames<Src, 2>(s, oldFrames, d, begin, end, inside, p, q); break;
        default: convertFrames<Src, 3>(s, oldFrames, d, begin, end, inside, p, q); break;
    }
}

void convertPart(int src, int dst, const uint8_t* s, int64_t oldFrames, uint8_t* d, int64_t begin, int64_t end,
                 int64_t inside, int64_t p, int64_t q) {
    switch (src) {
        case 0: convertFrom<0>(dst, s, oldFrames, d, begin, end, inside, p, q); break;
        case 1: convertFrom<1>(dst, s, oldFrames, d, begin, end, inside, p, q); break;
        case 2: convertFrom<2>(dst, s, oldFrames, d, begin, end, inside, p, q); break;
        default: convertFrom<3>(dst, s, oldFrames, d, begin, end, inside, p, q); break;
    }
}

// A large new block is filled in one pass: large pages save most of the
// page faults of its first touch. Only a hint; nothing depends on it.
void adviseLargePages(void* p, size_t size) {
    constexpr size_t kPage = 4096;
    if (!p || size < (size_t(64) << 20)) return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kPage - 1) & ~uintptr_t(kPage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + size) & ~uintptr_t(kPage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace

FormatResult ConvertSampleFormat(AudioDocument& doc, const SampleFormatTarget& target) {
    if (doc.byteCount <= 0) return FormatResult::Unchanged;
    if (doc.sampleRate <= 0) return FormatResult::NoSampleRate;
    if (target.sampleRate <= 0) return FormatResult::BadTarget;
    const int64_t n = ConvertedByteCount(doc, target);
    if (n > std::numeric_limits<int32_t>::max()) return FormatResult::TooLarge;

    SampleBlock block = allocateBlock(size_t(n));
    if (n > 0 && !block) return FormatResult::OutOfMemory;
    adviseLargePages(block.get(), size_t(n));
    const int src = (doc.stereo ? 1 : 0) | (doc.sixteenBit ? 2 : 0);
    const int dst = (target.stereo ? 1 : 0) | (target.sixteenBit ? 2 : 0);
    const int u = bytesOf(dst);
    const int64_t frames = n / u;
    if (n > 0) {
        const uint8_t* s = doc.sampleData.get();
        const int64_t oldFrames = doc.frameCount();
        uint8_t* d = block.get();
        const int64_t p = doc.sampleRate;
        const int64_t q = target.sampleRate;
        // New frame k reads old frame (k * P) / Q; frames from `inside` on
        // would lie past the last whole old frame.
        const int64_t inside = std::min(frames, (oldFrames * q + p - 1) / p);
        // Large recordings are converted in parts on every core; each part
        // starts its source index with one division.
        unsigned parts = frames >= (int64_t(1) << 22) ? std::max(1u, std::thread::hardware_concurrency()) : 1u;
        parts = std::min(parts, 8u);
        std::vector<std::thread> helpers;
        for (unsigned t = 1; t < parts; ++t) {
            const int64_t begin = frames * t / parts, end = frames * (t + 1) / parts;
            helpers.emplace_back([=] { convertPart(src, dst, s, oldFrames, d, begin, end, inside, p, q); });
        }
        convertPart(src, dst, s, oldFrames, d, 0, frames / parts, inside, p, q);
        for (auto& h : helpers) h.join();
        // The bytes after the last whole frame are zero.
        std::memset(d + frames * u, 0, size_t(n - frames * u));
    }
    doc.replace(std::move(block), int32_t(n), target.sampleRate, target.stereo, target.sixteenBit);
    return FormatResult::Converted;
}

FormatResult ChangeFormatToStandart(AudioDocument& doc) {
    if (IsAnalysisFormat(doc)) return FormatResult::Unchanged;
    return ConvertSampleFormat(doc, kStandardFormat);
}

const char* FormatResultMessage(FormatResult result) {
    switch (result) {
        case FormatResult::NoSampleRate:
            return "Das Sampleformat kann nicht geändert werden: Die Aufnahme hat keine Samplerate (0 Hz).";
        case FormatResult::BadTarget:
            return "Das Sampleformat kann nicht geändert werden: Die Samplerate muss mindestens 1 Hz sein.";
        case FormatResult::TooLarge:
            return "Das Sampleformat kann nicht geändert werden: Die Aufnahme würde größer als 2 GB.";
        case FormatResult::OutOfMemory:
            return "Das Sampleformat kann nicht geändert werden: Nicht genug Speicher.";
        default:
            return "";
    }
}

}  // namespace notavox
