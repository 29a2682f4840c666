#include "recognition/Resampler.h"

#include <samplerate.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "audio/Parallel.h"
#include "recognition/Features.h"

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

Resampler::Resampler(const AudioDocument& doc, float scale)
    : doc_(doc), scale_(scale), frames_(doc.sampleData ? doc.frameCount() : 0), rate_(doc.sampleRate) {
    if (frames_ <= 0 || rate_ <= 0) {
        frames_ = 0;
        return;
    }
    const int64_t g = std::gcd(rate_, int64_t(kModelRate));
    inStep_ = rate_ / g;
    outStep_ = kModelRate / g;
    // A margin of at least 256 output samples, far beyond the converter's
    // filter, on both sides.
    const int64_t wanted = std::max<int64_t>(256, 256 * rate_ / kModelRate);
    margin_ = (wanted + inStep_ - 1) / inStep_ * inStep_;
    length_ = (frames_ * kModelRate + rate_ - 1) / rate_;
}

bool Resampler::piece(int64_t index, float* out, std::string& error) const {
    std::fill(out, out + kPieceLength, 0.0f);
    const int64_t outFirst = index * kPieceLength;
    if (outFirst >= length_) return true;
    // kPieceLength is a multiple of 16000 and so of outStep_: the piece
    // starts exactly on input sample inFirst.
    const int64_t inFirst = outFirst / outStep_ * inStep_;
    const int64_t inLast = std::min(frames_, (outFirst + kPieceLength) / outStep_ * inStep_);
    if (rate_ == kModelRate) {
        MonoSamples(doc_, inFirst, inLast - inFirst, scale_, out);
        return true;
    }
    const int64_t from = std::max<int64_t>(0, inFirst - margin_);
    const int64_t to = std::min(frames_, inLast + margin_);
    std::vector<float> in(size_t(to - from));
    MonoSamples(doc_, from, to - from, scale_, in.data());
    const int64_t skip = (inFirst - from) / inStep_ * outStep_;
    const int64_t capacity = (to - from) * kModelRate / rate_ + 64;
    std::vector<float> converted(static_cast<size_t>(capacity));
    SRC_DATA data{};
    data.data_in = in.data();
    data.input_frames = long(in.size());
    data.data_out = converted.data();
    data.output_frames = long(converted.size());
    data.src_ratio = double(kModelRate) / double(rate_);
    data.end_of_input = 1;
    const int rc = src_simple(&data, SRC_SINC_FASTEST, 1);
    if (rc != 0) {
        error = src_strerror(rc);
        return false;
    }
    const int64_t have = std::min<int64_t>(data.output_frames_gen - skip, std::min(kPieceLength, length_ - outFirst));
    if (have > 0) std::copy(converted.begin() + skip, converted.begin() + skip + have, out);
    return true;
}

}  // namespace notavox::recognition
