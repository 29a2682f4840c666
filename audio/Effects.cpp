#include "audio/Effects.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace notavox {

static_assert(std::endian::native == std::endian::little,
              "16-bit samples are read and written in the machine's byte order");

namespace {

inline int32_t load16(const uint8_t* p, int64_t k) {
    int16_t v;
    std::memcpy(&v, p + 2 * k, 2);
    return v;
}

inline void store16(uint8_t* p, int64_t k, int32_t v) {
    const int16_t s = static_cast<int16_t>(v);
    std::memcpy(p + 2 * k, &s, 2);
}

inline int32_t clamp16(int64_t v) { return int32_t(std::clamp<int64_t>(v, -32768, 32767)); }
// An 8-bit level around its centre, limited and moved back onto 0..255.
inline uint8_t clamp8(int64_t centred) { return uint8_t(std::clamp<int64_t>(centred, -128, 127) + 128); }

// Last frame of an inclusive range [lo, hi] that may be touched.
inline int64_t lastFrame(const AudioDocument& doc, int64_t hi) {
    return std::min<int64_t>(hi, int64_t(doc.frameCount()) - 1);
}

// Applies f16 (16-bit levels) or f8 (bytes) to every sample value of the
// frames first..last inclusive.
template <class F16, class F8>
void mapValues(AudioDocument& doc, int64_t first, int64_t last, F16 f16, F8 f8) {
    if (first > last) return;
    const int64_t ch = doc.channelCount();
    const int64_t k0 = first * ch;
    const int64_t k1 = (last + 1) * ch;
    uint8_t* p = doc.sampleData.get();
    if (doc.sixteenBit) {
        for (int64_t k = k0; k < k1; ++k) store16(p, k, f16(load16(p, k)));
    } else {
        for (int64_t k = k0; k < k1; ++k) p[k] = f8(p[k]);
    }
}

// Multiplies every value of frame i by the gain g (16-bit: Trunc(x*g);
// 8-bit: Trunc((x-128)*g + 128)).
inline void scaleFrame(AudioDocument& doc, int64_t frame, double g) {
    const int64_t ch = doc.channelCount();
    uint8_t* p = doc.sampleData.get();
    for (int64_t k = frame * ch; k < (frame + 1) * ch; ++k) {
        if (doc.sixteenBit) {
            store16(p, k, int32_t(double(load16(p, k)) * g));
        } else {
            p[k] = uint8_t(int32_t(double(int32_t(p[k]) - 128) * g + 128.0));
        }
    }
}

// Multiplies every value of the selected frames by Num/Den (toward zero),
// limited to the format's range. The ratio is a constant of the loop, so
// that the division is compiled into a multiplication.
template <int64_t Num, int64_t Den>
void scaleSelection(AudioDocument& doc) {
    doc.touch();
    const FrameRange r = doc.selectedFrames();
    mapValues(
        doc, r.lo, lastFrame(doc, r.hi), [](int32_t x) { return clamp16(int64_t(x) * Num / Den); },
        [](uint8_t x) { return clamp8((int64_t(x) - 128) * Num / Den); });
}

template <int F>
void reverseFrames(uint8_t* p, int64_t lo, int64_t hi) {
    // Swap whole frames so that the channels stay in place.
    uint8_t a[F], b[F];
    for (int64_t i = lo, j = hi; i < j; ++i, --j) {
        std::memcpy(a, p + i * F, F);
        std::memcpy(b, p + j * F, F);
        std::memcpy(p + i * F, b, F);
        std::memcpy(p + j * F, a, F);
    }
}

}  // namespace

int64_t SpanFrames(double seconds, int32_t sampleRate) {
    const double v = seconds * double(sampleRate);
    if (!(v >= 1.0)) return 0;  // also NaN
    if (v >= 9.0e18) return std::numeric_limits<int64_t>::max() / 4;
    return int64_t(v);
}

void Echo(AudioDocument& doc, double seconds) {
    doc.touch();
    const FrameRange r = doc.selectedFrames();
    const int64_t d = SpanFrames(seconds, doc.sampleRate);
    if (d > std::numeric_limits<int32_t>::max()) return;
    const int64_t first = r.lo + d;
    const int64_t last = lastFrame(doc, r.hi);
    if (first > last) return;
    const int64_t ch = doc.channelCount();
    const int64_t lag = d * ch;
    uint8_t* p = doc.sampleData.get();
    // In place from left to right: the partner value has itself already been
    // mixed once it lies inside the echoed part, which makes the echo repeat.
    if (doc.sixteenBit) {
        for (int64_t k = first * ch; k < (last + 1) * ch; ++k)
            store16(p, k, (load16(p, k) + load16(p, k - lag)) / 2);
    } else {
        for (int64_t k = first * ch; k < (last + 1) * ch; ++k)
            p[k] = uint8_t((unsigned(p[k]) + unsigned(p[k - lag])) / 2);
    }
}

void FadeIn(AudioDocument& doc, double seconds) {
    doc.touch();
    const FrameRange r = doc.selectedFrames();
    const int64_t d = SpanFrames(seconds, doc.sampleRate);
    if (d == 0) return;
    const int64_t m = doc.frameCount();
    const int64_t end = std::min({r.lo + d + 1, r.hi, m});  // exclusive
    for (int64_t i = r.lo; i < end; ++i) scaleFrame(doc, i, double(i - r.lo) / double(d));
}

void FadeOut(AudioDocument& doc, double seconds) {
    doc.touch();
    const FrameRange r = doc.selectedFrames();
    const int64_t d = SpanFrames(seconds, doc.sampleRate);
    if (d == 0 || d > r.hi) return;
    const int64_t m = doc.frameCount();
    const int64_t first = std::max(r.hi - d, r.lo);
    const int64_t last = std::min(r.hi, m - 1);
    for (int64_t i = first; i <= last; ++i) scaleFrame(doc, i, double(r.hi - i) / double(d));
}

bool CrossfadeEndOntoStart(AudioDocument& doc, double seconds) {
    doc.touch();
    const int64_t d = SpanFrames(seconds, doc.sampleRate);
    const int64_t f = doc.bytesPerFrame();
    const int64_t m = doc.frameCount();
    if (d == 0 || d * f >= doc.byteCount || d >= m) return false;

    const int64_t kept = m - d;                  // frames of the result
    const int64_t trailing = doc.byteCount - m * f;  // bytes past the last whole frame
    const int64_t newCount = doc.byteCount - d * f;
    // Rotating the kept frames left by d div 2 (modulo their number, for a
    // span longer than half of what remains) puts the seam inside.
    const int64_t h = (d / 2) % kept;
    SampleBlock block = allocateBlock(size_t(newCount));
    if (!block) return false;
    const uint8_t* src = doc.sampleData.get();
    uint8_t* dst = block.get();
    std::memcpy(dst, src + h * f, size_t((kept - h) * f));
    std::memcpy(dst + (kept - h) * f, src, size_t(h * f));
    if (trailing > 0) std::memcpy(dst + kept * f, src + m * f, size_t(trailing));

    // Frames 0..d-1 become their own fade-in plus the fade-out of their
    // partner M-d+i. Every partner lies after its frame, so all inputs are the
    // old values and the result can be written straight into the new block.
    const int64_t ch = doc.channelCount();
    const int64_t faded = std::min(d, kept);
    for (int64_t i = 0; i < faded; ++i) {
        const double g = double(i) / double(d);
        const int64_t j = m - d + i;
        const int64_t at = (i - h + kept) % kept;  // position of old frame i in the result
        for (int64_t c = 0; c < ch; ++c) {
            const int64_t ks = i * ch + c, kp = j * ch + c, kd = at * ch + c;
            if (doc.sixteenBit) {
                const int32_t v = int32_t(double(load16(src, ks)) * g) +
                                  int32_t(double(load16(src, kp)) * (1.0 - g));
                store16(dst, kd, v);
            } else {
                const int32_t a = int32_t(double(int32_t(src[ks]) - 128) * g + 128.0);
                const int32_t b = int32_t(double(int32_t(src[kp]) - 128) * (1.0 - g) + 128.0);
                dst[kd] = uint8_t((a + b - 128) & 0xFF);
            }
        }
    }
    doc.replace(std::move(block), int32_t(newCount));
    return true;
}

void MaximumVolume(AudioDocument& doc) {
    doc.touch();
    const FrameRange r = doc.selectedFrames();
    const int64_t first = r.lo;
    const int64_t last = lastFrame(doc, r.hi);
    if (first > last) return;
    const int64_t ch = doc.channelCount();
    const uint8_t* p = doc.sampleData.get();
    int64_t peak = 1;
    if (doc.sixteenBit) {
        for (int64_t k = first * ch; k < (last + 1) * ch; ++k) peak = std::max<int64_t>(peak, std::abs(load16(p, k)));
    } else {
        for (int64_t k = first * ch; k < (last + 1) * ch; ++k)
            peak = std::max<int64_t>(peak, std::abs(int32_t(p[k]) - 128));
    }
    mapValues(
        doc, first, last, [peak](int32_t x) { return clamp16(int64_t(x) * 32768 / peak); },
        [peak](uint8_t x) { return clamp8((int64_t(x) - 128) * 128 / peak); });
}

void Louder10(AudioDocument& doc) { scaleSelection<110, 100>(doc); }

void Quieter10(AudioDocument& doc) { scaleSelection<100, 110>(doc); }

void Reverse(AudioDocument& doc) {
    doc.touch();
    const int64_t m = doc.frameCount();
    if (m == 0) return;
    int64_t lo = 0, hi = m - 1;
    if (doc.hasSelection()) {
        const FrameRange r = doc.selectedFrames();
        lo = r.lo;
        hi = std::min(r.hi, m - 1);
    }
    if (lo >= hi) return;
    uint8_t* p = doc.sampleData.get();
    switch (doc.bytesPerFrame()) {
        case 1: reverseFrames<1>(p, lo, hi); break;
        case 2: reverseFrames<2>(p, lo, hi); break;
        default: reverseFrames<4>(p, lo, hi); break;
    }
}

void Faster10(AudioDocument& doc) {
    doc.touch();
    doc.sampleRate = int32_t(std::min<int64_t>(int64_t(doc.sampleRate) * 110 / 100, std::numeric_limits<int32_t>::max()));
}

void Slower10(AudioDocument& doc) {
    doc.touch();
    doc.sampleRate = int32_t(int64_t(doc.sampleRate) * 100 / 110);
}

}  // namespace notavox
