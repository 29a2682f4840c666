#include "recognition/Features.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "transcription/Vec.h"

namespace notavox::recognition {

int64_t FrameCount(int64_t samples) { return samples <= 0 ? 0 : samples / kHop + 1; }

std::vector<FilterBin> BuildFilterbank() {
    auto freq = [](double m) { return 440.0 * std::pow(2.0, (m - 69.0) / 12.0); };
    std::vector<FilterBin> bins(kFeatureBins);
    for (int j = 0; j < kFeatureBins; ++j) {
        const double m = 21.0 + (j - 1) / 3.0;
        int window = 0;
        while (window + 1 < kWindows && m >= kWindowFirstKey[window + 1] - 1e-9) ++window;
        const int size = kWindowSizes[window];
        const int spectrumBins = size / 2 + 1;
        const double df = double(kModelRate) / size;
        const double fc = freq(m);
        const double lo = std::min(freq(m - 1.0 / 3.0), fc - df);
        const double hi = std::max(freq(m + 1.0 / 3.0), fc + df);
        std::vector<double> w(size_t(spectrumBins), 0.0);
        double sum = 0;
        int first = -1, last = -1;
        for (int k = 0; k < spectrumBins; ++k) {
            const double fk = k * df;
            double v = 0;
            if (lo < fk && fk <= fc) v = (fk - lo) / (fc - lo);
            else if (fc < fk && fk < hi) v = (hi - fk) / (hi - fc);
            if (v > 0) {
                if (first < 0) first = k;
                last = k;
            }
            w[size_t(k)] = v;
            sum += v;
        }
        FilterBin& b = bins[size_t(j)];
        b.window = window;
        b.first = std::max(first, 0);
        for (int k = b.first; k <= last; ++k) b.weights.push_back(float(w[size_t(k)] / sum));
    }
    return bins;
}

FeatureExtractor::FeatureExtractor()
    : fft_{BatchFft(kWindowSizes[0]), BatchFft(kWindowSizes[1]), BatchFft(kWindowSizes[2])},
      filters_(BuildFilterbank()) {
    for (int w = 0; w < kWindows; ++w) {
        const int size = kWindowSizes[w];
        window_[w].resize(size_t(size));
        for (int n = 0; n < size; ++n) window_[w][size_t(n)] = float(0.5 - 0.5 * std::cos(2.0 * M_PI * n / size));
    }
    // The filters of each window follow one another.
    for (int w = 0; w <= kWindows; ++w) firstFilter_[w] = kFeatureBins;
    for (int j = kFeatureBins - 1; j >= 0; --j) firstFilter_[filters_[size_t(j)].window] = j;
    for (const FilterBin& b : filters_) {
        firstBin_.push_back(b.first);
        binCount_.push_back(int(b.weights.size()));
        weightAt_.push_back(int(weights_.size()));
        weights_.insert(weights_.end(), b.weights.begin(), b.weights.end());
    }
}

namespace {

// The energies of filters [from, to) from one window's spectrum.
NOTAVOX_VECTOR_CLONES
void filter(const float* mag, const float* weights, const int* firstBin, const int* binCount, const int* weightAt,
            int from, int to, float* lanes) {
    for (int j = from; j < to; ++j) {
        const float* w = weights + weightAt[j];
        const float* m = mag + size_t(firstBin[j]) * kLanes;
        Vf e = splat(0.0f);
        for (int i = 0; i < binCount[j]; ++i) e = e + w[i] * loadv(m + size_t(i) * kLanes);
        storev(lanes + size_t(j) * kLanes, e);
    }
}

NOTAVOX_VECTOR_CLONES
void compress(float* lanes) {
    const float inverseLn = float(1.0 / std::log(10001.0));
    for (int j = 0; j < kFeatureBins; ++j) {
        float* e = lanes + size_t(j) * kLanes;
        storev(e, log1pv(10000.0f * loadv(e)) * inverseLn);
    }
}

}  // namespace

void FeatureExtractor::compute(const float* samples, int64_t first, int64_t t0, int count, float* out,
                               size_t stride) const {
    struct Scratch {
        alignas(64) float re[kHalfSize * kLanes];
        alignas(64) float im[kHalfSize * kLanes];
        alignas(64) float mag[kSpectrumBins * kLanes];
        alignas(64) float lanes[kFeatureBins * kLanes];
    };
    // Not value-initialised: every element is written before it is read.
    std::unique_ptr<Scratch> s(new Scratch);
    for (int done = 0; done < count; done += kLanes) {
        const int n = std::min(kLanes, count - done);
        for (int v = 0; v < kWindows; ++v) {
            // Lane l takes frame t0 + done + l.
            const BatchFft& fft = fft_[v];
            const float* x = samples + ((t0 + done) * kHop - fft.size() / 2 - first);
            fft.magnitudes(x, kHop, n, window_[v].data(), s->re, s->im, s->mag);
            filter(s->mag, weights_.data(), firstBin_.data(), binCount_.data(), weightAt_.data(), firstFilter_[v],
                   firstFilter_[v + 1], s->lanes);
        }
        compress(s->lanes);
        for (int j = 0; j < kFeatureBins; ++j)
            std::copy(s->lanes + size_t(j) * kLanes, s->lanes + size_t(j) * kLanes + n, out + size_t(j) * stride + done);
    }
}

}  // namespace notavox::recognition
