#include "recognition/Resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

#include "audio/Parallel.h"
#include "recognition/Features.h"
#include "transcription/Vec.h"

namespace notavox::recognition {

namespace {

// The largest |l + r| (16-bit stereo), |v| (16-bit mono), |l + r - 256|
// (8-bit stereo) or |v - 128| (8-bit mono) of frames [first, last).
int32_t peakSum(const AudioDocument& doc, int64_t first, int64_t last) {
    const uint8_t* p = doc.sampleData.get();
    int32_t peak = 0;
    if (doc.sixteenBit && doc.stereo) {
        for (int64_t i = first; i < last; ++i) {
            int16_t v[2];
            std::memcpy(v, p + i * 4, 4);
            peak = std::max(peak, std::abs(int32_t(v[0]) + int32_t(v[1])));
        }
    } else if (doc.sixteenBit) {
        for (int64_t i = first; i < last; ++i) {
            int16_t v;
            std::memcpy(&v, p + i * 2, 2);
            peak = std::max(peak, std::abs(int32_t(v)));
        }
    } else if (doc.stereo) {
        for (int64_t i = first; i < last; ++i) peak = std::max(peak, std::abs(int32_t(p[2 * i]) + p[2 * i + 1] - 256));
    } else {
        for (int64_t i = first; i < last; ++i) peak = std::max(peak, std::abs(int32_t(p[i]) - 128));
    }
    return peak;
}

}  // namespace

float PeakLevel(const AudioDocument& doc, unsigned threads) {
    const int64_t frames = doc.sampleData ? doc.frameCount() : 0;
    if (frames <= 0) return 0.0f;
    threads = std::max(1u, std::min<unsigned>(threads, unsigned(frames / 65536 + 1)));
    std::vector<int32_t> peaks(threads, 0);
    RunInParts(threads, [&](size_t t) {
        peaks[t] = peakSum(doc, frames * int64_t(t) / threads, frames * int64_t(t + 1) / threads);
    });
    const int32_t peak = *std::max_element(peaks.begin(), peaks.end());
    // The sums are exact: a mono sample is the sum over 65536 (16-bit stereo),
    // 32768 (16-bit mono), 256 (8-bit stereo) or 128 (8-bit mono).
    const float unit = doc.sixteenBit ? (doc.stereo ? 65536.0f : 32768.0f) : (doc.stereo ? 256.0f : 128.0f);
    return float(peak) / unit;
}

void MonoSamples(const AudioDocument& doc, int64_t first, int64_t count, float scale, float* out) {
    const uint8_t* p = doc.sampleData.get();
    if (doc.sixteenBit && doc.stereo) {
        for (int64_t i = 0; i < count; ++i) {
            int16_t v[2];
            std::memcpy(v, p + (first + i) * 4, 4);
            out[i] = ((float(v[0]) / 32768.0f + float(v[1]) / 32768.0f) * 0.5f) * scale;
        }
    } else if (doc.sixteenBit) {
        for (int64_t i = 0; i < count; ++i) {
            int16_t v;
            std::memcpy(&v, p + (first + i) * 2, 2);
            out[i] = (float(v) / 32768.0f) * scale;
        }
    } else if (doc.stereo) {
        for (int64_t i = 0; i < count; ++i)
            out[i] = ((float(int(p[2 * (first + i)]) - 128) / 128.0f + float(int(p[2 * (first + i) + 1]) - 128) / 128.0f) *
                      0.5f) *
                     scale;
    } else {
        for (int64_t i = 0; i < count; ++i) out[i] = (float(int(p[first + i]) - 128) / 128.0f) * scale;
    }
}

std::vector<double> Resampler::Design(int64_t up, int64_t down) {
    const int64_t g = std::gcd(up, down);
    up /= g;
    down /= g;
    if (up == down) return {};
    const int64_t most = std::max(up, down);
    const int64_t half = 10 * most;
    const int64_t n = 2 * half + 1;
    const double cutoff = 1.0 / double(most);  // of the raised rate's Nyquist frequency
    // I0 by its power series: at most beta = 5, 30 terms are exact to the last bit.
    auto besselI0 = [](double x) {
        double term = 1.0, sum = 1.0;
        const double q = x * x / 4.0;
        for (int k = 1; k < 40; ++k) {
            term *= q / (double(k) * double(k));
            sum += term;
        }
        return sum;
    };
    const double beta = 5.0;
    const double i0Beta = besselI0(beta);
    std::vector<double> h(static_cast<size_t>(n));
    double sum = 0.0;
    for (int64_t k = 0; k < n; ++k) {
        const double m = double(k - half);
        const double x = M_PI * cutoff * m;
        const double sinc = m == 0 ? 1.0 : std::sin(x) / x;
        const double r = m / double(half);
        const double window = besselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / i0Beta;
        h[size_t(k)] = cutoff * sinc * window;
        sum += h[size_t(k)];
    }
    for (double& v : h) v = v / sum * double(up);
    return h;
}

Resampler::Resampler(const AudioDocument& doc, float scale)
    : doc_(doc), scale_(scale), frames_(doc.sampleData ? doc.frameCount() : 0), rate_(doc.sampleRate) {
    if (frames_ <= 0 || rate_ <= 0) {
        frames_ = 0;
        return;
    }
    length_ = (frames_ * kModelRate + rate_ - 1) / rate_;
    if (rate_ == kModelRate) return;
    const int64_t g = std::gcd(rate_, int64_t(kModelRate));
    up_ = kModelRate / g;
    down_ = rate_ / g;
    if (std::max(up_, down_) > kLargestStep) {
        refused_ = true;
        return;
    }
    const std::vector<double> h = Design(up_, down_);
    half_ = int64_t(h.size()) / 2;
    const int64_t n = int64_t(h.size());
    // Output sample y reaches input i = floor((y down + half) / up) and the
    // taps before it; phase p = (y down + half) mod up takes filter taps
    // p, p + up, p + 2 up, ... for inputs i, i - 1, i - 2, ... Row p holds
    // them in input order, zeros at the front where the filter has ended.
    const int64_t used = (n + up_ - 1) / up_;
    taps_ = (used + kLanes - 1) / kLanes * kLanes;
    phases_.assign(size_t(up_ * taps_), 0.0f);
    for (int64_t p = 0; p < up_; ++p)
        for (int64_t j = 0; j < taps_; ++j) {
            const int64_t k = p + j * up_;
            if (k < n) phases_[size_t(p * taps_ + taps_ - 1 - j)] = float(h[size_t(k)]);
        }
}

namespace {

// out[y] = sum of taps[p(y)][j] * in[first(y) + j]: sixteen taps at a time,
// the sixteen partial sums then added in one fixed order.
NOTAVOX_VECTOR_CLONES
void convolve(const float* in, int64_t inFirst, const float* phases, int64_t taps, int64_t up, int64_t down,
              int64_t half, int64_t y0, int64_t count, float* out) {
    for (int64_t y = y0; y < y0 + count; ++y) {
        const int64_t c = y * down + half;
        const int64_t last = c / up;
        const float* t = phases + (c - last * up) * taps;
        const float* x = in + (last - taps + 1 - inFirst);
        Vf acc = splat(0.0f);
        for (int64_t j = 0; j < taps; j += kLanes) acc = acc + loadv(t + j) * loadv(x + j);
        float a[kLanes];
        std::memcpy(a, &acc, sizeof a);
        for (int l = 0; l < 8; ++l) a[l] = a[l] + a[l + 8];
        for (int l = 0; l < 4; ++l) a[l] = a[l] + a[l + 4];
        out[y - y0] = (a[0] + a[2]) + (a[1] + a[3]);
    }
}

}  // namespace

bool Resampler::piece(int64_t index, float* out, std::string& error) const {
    std::fill(out, out + kPieceLength, 0.0f);
    if (refused_) {
        error = "Abtastrate " + std::to_string(rate_) + " Hz wird nicht unterstützt";
        return false;
    }
    const int64_t outFirst = index * kPieceLength;
    if (outFirst >= length_) return true;
    const int64_t count = std::min(kPieceLength, length_ - outFirst);
    if (rate_ == kModelRate) {
        MonoSamples(doc_, outFirst, count, scale_, out);
        return true;
    }
    // The inputs the piece's taps reach, zeros outside the recording.
    const int64_t from = (outFirst * down_ + half_) / up_ - taps_ + 1;
    const int64_t to = ((outFirst + count - 1) * down_ + half_) / up_ + 1;
    std::vector<float> in(size_t(to - from), 0.0f);
    const int64_t a = std::max<int64_t>(from, 0), b = std::min(to, frames_);
    if (b > a) MonoSamples(doc_, a, b - a, scale_, in.data() + (a - from));
    convolve(in.data(), from, phases_.data(), taps_, up_, down_, half_, outFirst, count, out);
    return true;
}

}  // namespace notavox::recognition
