#include "rhythm/OnsetEnvelope.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>

#include "audio/Parallel.h"
#include "transcription/Fft.h"

namespace notavox {
namespace {

constexpr int kFftSize = 256;
constexpr int kBins = kFftSize / 2 + 1;
constexpr double kAnalysisRate = 11025.0;
constexpr double kLowBandLimit = 250.0;
constexpr size_t kChunkFrames = 2048;

// Where the decimated samples come from: fills out[0..n) with samples
// first..first+n of the decimated signal, zeros outside it.
using SampleReader = std::function<void(int64_t first, size_t n, float* out)>;

struct Layout {
    int decimation = 1;
    double rate = 0;  // of the decimated signal
    int hop = 1;
    int64_t samples = 0;  // decimated length
    size_t frames = 0;
};

Layout MakeLayout(double sampleRate, int64_t inputSamples) {
    Layout l;
    l.decimation = std::max(1, int(std::lround(sampleRate / kAnalysisRate)));
    l.rate = sampleRate / l.decimation;
    l.hop = std::max(1, int(std::lround(l.rate / 100.0)));
    l.samples = inputSamples / l.decimation;
    l.frames = inputSamples > 0 ? size_t(l.samples / l.hop) + 1 : 0;
    return l;
}

class FluxComputer {
public:
    explicit FluxComputer(double rate) {
        for (int i = 0; i < kFftSize; ++i)
            window_[size_t(i)] = float(0.5 - 0.5 * std::cos(2 * M_PI * i / kFftSize));
        // Bands of a sixth of an octave from 40 Hz; bins below 40 Hz and the
        // DC bin take no part. Band numbers are made consecutive.
        int last = -1;
        bands_ = 0;
        for (int k = 0; k < kBins; ++k) {
            const double f = k * rate / kFftSize;
            if (f < 40.0) {
                bandOf_[size_t(k)] = -1;
                continue;
            }
            const int b = int(std::floor(6.0 * std::log2(f / 40.0)));
            if (b != last) {
                last = b;
                if (bands_ < kMaxBands) {
                    bandLow_[size_t(bands_)] = f < kLowBandLimit;
                    ++bands_;
                }
            }
            bandOf_[size_t(k)] = int16_t(bands_ - 1);
        }
    }

    int bands() const { return bands_; }

    // The compressed band levels of one frame from its magnitudes mag[k *
    // stride] (BatchFft's, on which a full-scale sine of a bin's frequency
    // gives a magnitude near 1).
    void levels(const float* mag, size_t stride, float* level) const {
        float sum[kMaxBands];
        for (int b = 0; b < bands_; ++b) sum[b] = 0;
        for (int k = 0; k < kBins; ++k)
            if (bandOf_[size_t(k)] >= 0) sum[bandOf_[size_t(k)]] += mag[size_t(k) * stride];
        for (int b = 0; b < bands_; ++b) level[b] = std::log1p(1000.0f * sum[b]);
    }

    void flux(const float* prev, const float* cur, float& all, float& low) const {
        all = 0;
        low = 0;
        for (int b = 0; b < bands_; ++b) {
            const float d = cur[b] - prev[b];
            if (d > 0) {
                all += d;
                if (bandLow_[size_t(b)]) low += d;
            }
        }
    }

    const float* window() const { return window_.data(); }

    static constexpr int kMaxBands = 64;

private:
    std::array<float, kFftSize> window_{};
    std::array<int16_t, kBins> bandOf_{};
    std::array<bool, kMaxBands> bandLow_{};
    int bands_ = 0;
};

// Frames [first, last) of the envelope; frame first-1 is computed again for
// the first difference so that the split over threads changes nothing.
void ComputeFrames(const Layout& l, const SampleReader& read, const BatchFft& fft, const FluxComputer& fc,
                   size_t first, size_t last, OnsetEnvelope& env) {
    const int bands = fc.bands();
    std::vector<float> samples;
    std::vector<float> levels;
    std::vector<float> re(size_t(kFftSize / 2 * kLanes)), im(re.size()), mag(size_t(kBins * kLanes));
    float prev[FluxComputer::kMaxBands];
    for (int b = 0; b < bands; ++b) prev[b] = 0;
    bool havePrev = false;
    const int64_t half = kFftSize / 2;
    for (size_t c0 = first; c0 < last; c0 += kChunkFrames) {
        // The first chunk of a thread takes the frame before it for its
        // first difference.
        const size_t lo = (c0 == first && c0 > 0) ? c0 - 1 : c0;
        const size_t hi = std::min(last, c0 + kChunkFrames);
        const size_t n = hi - lo;
        const int64_t s0 = int64_t(lo) * l.hop - half;
        const size_t span = size_t(int64_t(n - 1) * l.hop + kFftSize);
        samples.resize(span);
        read(s0, span, samples.data());
        levels.resize(n * size_t(bands));
        for (size_t i = 0; i < n; i += kLanes) {
            const int frames = int(std::min<size_t>(kLanes, n - i));
            fft.magnitudes(&samples[i * size_t(l.hop)], l.hop, frames, fc.window(), re.data(), im.data(), mag.data());
            for (int f = 0; f < frames; ++f)
                fc.levels(mag.data() + f, kLanes, &levels[(i + size_t(f)) * size_t(bands)]);
        }
        for (size_t i = 0; i < n; ++i) {
            const size_t frame = lo + i;
            const float* cur = &levels[i * size_t(bands)];
            if (frame >= c0) {
                float all = 0, low = 0;
                if (havePrev) fc.flux(prev, cur, all, low);
                env.flux[frame] = all;
                env.lowFlux[frame] = low;
            }
            std::memcpy(prev, cur, sizeof(float) * size_t(bands));
            havePrev = true;
        }
    }
}

OnsetEnvelope Compute(const Layout& l, const SampleReader& read, unsigned threads) {
    OnsetEnvelope env;
    env.frameRate = l.rate / l.hop;
    env.flux.assign(l.frames, 0.0f);
    env.lowFlux.assign(l.frames, 0.0f);
    if (l.frames == 0) return env;
    if (threads == 0) threads = CoreCount();
    if (l.frames < 4 * kChunkFrames) threads = 1;
    static const BatchFft fft(kFftSize);
    const FluxComputer fc(l.rate);
    auto start = [&](size_t t) { return t >= threads ? l.frames : l.frames * t / threads; };
    RunInParts(threads, [&](size_t t) { ComputeFrames(l, read, fft, fc, start(t), start(t + 1), env); });
    return env;
}

}  // namespace

OnsetEnvelope ComputeOnsetEnvelope(const float* mono, size_t count, double sampleRate, unsigned threads) {
    const Layout l = MakeLayout(sampleRate, int64_t(count));
    const float inv = 1.0f / float(l.decimation);
    SampleReader read = [&](int64_t first, size_t n, float* out) {
        for (size_t i = 0; i < n; ++i) {
            const int64_t m = first + int64_t(i);
            if (m < 0 || m >= l.samples) {
                out[i] = 0;
                continue;
            }
            const float* x = mono + m * l.decimation;
            float s = 0;
            for (int j = 0; j < l.decimation; ++j) s += x[j];
            out[i] = s * inv;
        }
    };
    return Compute(l, read, threads);
}

OnsetEnvelope ComputeOnsetEnvelope(const AudioDocument& doc, unsigned threads) {
    const int64_t frames = doc.empty() ? 0 : doc.frameCount();
    const Layout l = MakeLayout(doc.sampleRate > 0 ? doc.sampleRate : 44100, frames);
    const int channels = doc.channelCount();
    const bool wide = doc.sixteenBit;
    const uint8_t* data = doc.sampleData.get();
    // Mono 16-bit and 8-bit levels scaled to -1..1; both channels averaged.
    const float scale = (wide ? 1.0f / 32768.0f : 1.0f / 128.0f) / float(l.decimation * channels);
    SampleReader read = [&](int64_t first, size_t n, float* out) {
        const int per = l.decimation * channels;
        for (size_t i = 0; i < n; ++i) {
            const int64_t m = first + int64_t(i);
            if (m < 0 || m >= l.samples) {
                out[i] = 0;
                continue;
            }
            int32_t s = 0;
            if (wide) {
                const uint8_t* p = data + m * per * 2;
                for (int j = 0; j < per; ++j) {
                    int16_t v;
                    std::memcpy(&v, p + 2 * j, 2);
                    s += v;
                }
            } else {
                const uint8_t* p = data + m * per;
                for (int j = 0; j < per; ++j) s += int32_t(p[j]) - 128;
            }
            out[i] = float(s) * scale;
        }
    };
    return Compute(l, read, threads);
}

std::vector<float> BeatNovelty(const std::vector<float>& flux, double frameRate) {
    // Below this (in standard deviations) a rise is the noise of a fading
    // tail or of near silence, not an onset.
    constexpr float kNoiseFloor = 0.05f;
    const size_t n = flux.size();
    std::vector<float> out(n, 0.0f);
    if (n == 0) return out;
    // Running mean over +-half a second with a prefix sum in double.
    const int64_t half = std::max<int64_t>(1, std::llround(0.5 * frameRate));
    std::vector<double> prefix(n + 1, 0.0);
    for (size_t i = 0; i < n; ++i) prefix[i + 1] = prefix[i] + flux[i];
    std::vector<float> hp(n);
    for (size_t i = 0; i < n; ++i) {
        const int64_t a = std::max<int64_t>(0, int64_t(i) - half);
        const int64_t b = std::min<int64_t>(int64_t(n), int64_t(i) + half + 1);
        const double mean = (prefix[size_t(b)] - prefix[size_t(a)]) / double(b - a);
        hp[i] = std::max(0.0f, float(flux[i] - mean));
    }
    double sum = 0, sum2 = 0;
    for (float v : hp) {
        sum += v;
        sum2 += double(v) * v;
    }
    const double mean = sum / double(n);
    const double var = sum2 / double(n) - mean * mean;
    const float scale = var > 1e-12 ? float(1.0 / std::sqrt(var)) : 0.0f;
    // Smoothing with the kernel 1/4, 1/2, 1/4.
    for (size_t i = 0; i < n; ++i) {
        const float l = i > 0 ? hp[i - 1] : 0.0f;
        const float r = i + 1 < n ? hp[i + 1] : 0.0f;
        const float v = (0.25f * l + 0.5f * hp[i] + 0.25f * r) * scale;
        out[i] = v >= kNoiseFloor ? v : 0.0f;
    }
    return out;
}

}  // namespace notavox
