#include "audio/SampleFormat.h"

#include "audio/MemoryBudget.h"

#include <cstdlib>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "audio/Parallel.h"

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
// new frames repeat the last whole frame `last`, or are silent when there is
// none. `out` receives new frame `begin` and those after it.
template <int Src, int Dst>
void convertFrames(const uint8_t* src, const uint8_t* last, uint8_t* out, int64_t begin, int64_t end,
                   int64_t inside, int64_t p, int64_t q) {
    constexpr int u = bytesOf(Dst);
    constexpr int v = bytesOf(Src);
    const int64_t step = p / q;
    const int64_t extra = p % q;
    int64_t s = begin * p / q;  // once per part, not per frame
    int64_t rem = begin * p % q;
    int32_t l = 0, r = 0;
    int64_t k = begin;
    for (const int64_t stop = std::min(end, inside); k < stop; ++k) {
        readFrame<Src>(src + s * v, l, r);
        writeFrame<Dst>(out + (k - begin) * u, l, r);
        s += step;
        rem += extra;
        if (rem >= q) {
            rem -= q;
            ++s;
        }
    }
    if (k < end) {
        l = r = 0;
        if (last) readFrame<Src>(last, l, r);
    }
    for (; k < end; ++k) writeFrame<Dst>(out + (k - begin) * u, l, r);
}

template <int Src>
void convertFrom(int dst, const uint8_t* s, const uint8_t* last, uint8_t* out, int64_t begin, int64_t end,
                 int64_t inside, int64_t p, int64_t q) {
    switch (dst) {
        case 0: convertFrames<Src, 0>(s, last, out, begin, end, inside, p, q); break;
        case 1: convertFrames<Src, 1>(s, last, out, begin, end, inside, p, q); break;
        case 2: convertFrames<Src, 2>(s, last, out, begin, end, inside, p, q); break;
        default: convertFrames<Src, 3>(s, last, out, begin, end, inside, p, q); break;
    }
}

void convertPart(int src, int dst, const uint8_t* s, const uint8_t* last, uint8_t* out, int64_t begin, int64_t end,
                 int64_t inside, int64_t p, int64_t q) {
    switch (src) {
        case 0: convertFrom<0>(dst, s, last, out, begin, end, inside, p, q); break;
        case 1: convertFrom<1>(dst, s, last, out, begin, end, inside, p, q); break;
        case 2: convertFrom<2>(dst, s, last, out, begin, end, inside, p, q); break;
        default: convertFrom<3>(dst, s, last, out, begin, end, inside, p, q); break;
    }
}

// Converts within the old block when the new recording is no wider per frame
// and no faster than the old one: new frame k then lies at or before the
// bytes of old frame k, which no later new frame reads. Each run of new
// frames is converted into a small buffer first and copied down afterwards,
// so that no write reaches bytes the same run still reads. The last whole
// old frame is kept aside for the frames past its end.
void convertInPlace(int src, int dst, uint8_t* data, int64_t oldFrames, int64_t frames, int64_t inside, int64_t p,
                    int64_t q) {
    const int v = bytesOf(src);
    const int u = bytesOf(dst);
    uint8_t last[4] = {0, 0, 0, 0};
    if (oldFrames > 0) std::memcpy(last, data + (oldFrames - 1) * v, size_t(v));
    constexpr int64_t kRun = 4096;
    alignas(64) uint8_t buffer[kRun * 4];
    for (int64_t begin = 0; begin < frames; begin += kRun) {
        const int64_t end = std::min(frames, begin + kRun);
        convertPart(src, dst, data, oldFrames > 0 ? last : nullptr, buffer, begin, end, inside, p, q);
        std::memcpy(data + begin * u, buffer, size_t((end - begin) * u));
    }
}

// What one conversion needs to know, or why there is none to do.
struct ConversionPlan {
    int64_t n = 0;  // bytes of the new recording
    int src = 0, dst = 0, u = 0;
    int64_t frames = 0, oldFrames = 0, p = 0, q = 0;
    // New frame k reads old frame (k * P) / Q; frames from `inside` on
    // would lie past the last whole old frame.
    int64_t inside = 0;
};

// Converted when there is a conversion to do, else the reason there is none.
FormatResult planConversion(const AudioDocument& doc, const SampleFormatTarget& target, ConversionPlan& c) {
    if (doc.byteCount <= 0) return FormatResult::Unchanged;
    if (doc.sampleRate <= 0) return FormatResult::NoSampleRate;
    if (target.sampleRate <= 0) return FormatResult::BadTarget;
    c.n = ConvertedByteCount(doc, target);
    if (c.n > std::numeric_limits<int32_t>::max()) return FormatResult::TooLarge;
    c.src = (doc.stereo ? 1 : 0) | (doc.sixteenBit ? 2 : 0);
    c.dst = (target.stereo ? 1 : 0) | (target.sixteenBit ? 2 : 0);
    c.u = bytesOf(c.dst);
    c.frames = c.n / c.u;
    c.oldFrames = doc.frameCount();
    c.p = doc.sampleRate;
    c.q = target.sampleRate;
    c.inside = std::min(c.frames, (c.oldFrames * c.q + c.p - 1) / c.p);
    return FormatResult::Converted;
}

}  // namespace

FormatResult ConvertSampleFormatInto(const AudioDocument& doc, const SampleFormatTarget& target,
                                     AudioDocument& out) {
    ConversionPlan c;
    const FormatResult planned = planConversion(doc, target, c);
    if (planned != FormatResult::Converted) return planned;
    const int64_t n = c.n, frames = c.frames, oldFrames = c.oldFrames, p = c.p, q = c.q, inside = c.inside;
    const int src = c.src, dst = c.dst, u = c.u;

    // Refused before it allocates when the machine has not got the memory;
    // the reservation ends once the block is filled.
    MemoryReservation reservation(ProcessMemoryBudget(), uint64_t(n));
    if (!reservation.ok()) return FormatResult::OutOfMemory;
    SampleBlock block = allocateBlock(size_t(n));
    if (n > 0 && !block) return FormatResult::OutOfMemory;
    if (n > 0) {
        const uint8_t* s = doc.sampleData.get();
        const uint8_t* last = oldFrames > 0 ? s + (oldFrames - 1) * bytesOf(src) : nullptr;
        uint8_t* d = block.get();
        // Large recordings are converted in parts on every core; each part
        // starts its source index with one division.
        const int64_t parts = frames >= (int64_t(1) << 22) ? std::min(CoreCount(), 8u) : 1;
        RunInParts(size_t(parts), [&](size_t t) {
            const int64_t begin = frames * int64_t(t) / parts, end = frames * int64_t(t + 1) / parts;
            convertPart(src, dst, s, last, d + begin * u, begin, end, inside, p, q);
        });
        // The bytes after the last whole frame are zero.
        std::memset(d + frames * u, 0, size_t(n - frames * u));
    }
    out.replace(std::move(block), int32_t(n), target.sampleRate, target.stereo, target.sixteenBit);
    return FormatResult::Converted;
}

FormatResult ConvertSampleFormat(AudioDocument& doc, const SampleFormatTarget& target) {
    ConversionPlan c;
    const FormatResult planned = planConversion(doc, target, c);
    if (planned != FormatResult::Converted) return planned;
    const int64_t n = c.n, frames = c.frames, oldFrames = c.oldFrames, p = c.p, q = c.q, inside = c.inside;
    const int src = c.src, dst = c.dst, u = c.u;

    if (n > 0 && u <= bytesOf(src) && q <= p) {
        // A conversion that shrinks the recording (the standard format, for
        // one) needs no second block: the old one is converted from its
        // start and then cut to the new length.
        uint8_t* d = doc.sampleData.get();
        convertInPlace(src, dst, d, oldFrames, frames, inside, p, q);
        std::memset(d + frames * u, 0, size_t(n - frames * u));
        SampleBlock block(doc.sampleData.release());
        if (n < doc.byteCount) {
            if (void* shorter = std::realloc(block.get(), size_t(n))) {
                (void)block.release();
                block.reset(static_cast<uint8_t*>(shorter));
            }
        }
        doc.replace(std::move(block), int32_t(n), target.sampleRate, target.stereo, target.sixteenBit);
        return FormatResult::Converted;
    }
    return ConvertSampleFormatInto(doc, target, doc);
}

FormatResult ChangeFormatToStandart(AudioDocument& doc) {
    if (IsAnalysisFormat(doc)) return FormatResult::Unchanged;
    return ConvertSampleFormat(doc, kStandardFormat);
}

std::string UnsupportedSampleRateText(int64_t rate) {
    return "Die Samplerate " + std::to_string(rate) + " Hz wird nicht unterstützt (erlaubt sind " +
           std::to_string(kLowestSampleRate) + " bis " + std::to_string(kHighestSampleRate) + " Hz).";
}

std::string FormatResultMessage(FormatResult result, int64_t rate) {
    if (result == FormatResult::UnsupportedRate)
        return std::string("Das Sampleformat kann nicht geändert werden: ") + UnsupportedSampleRateText(rate);
    return FormatResultMessage(result);
}

const char* FormatResultMessage(FormatResult result) {
    switch (result) {
        case FormatResult::UnsupportedRate:
            return "Das Sampleformat kann nicht geändert werden: Die Samplerate wird nicht unterstützt.";
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
