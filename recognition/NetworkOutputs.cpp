#include "recognition/NetworkOutputs.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "recognition/NoteDecoder.h"

namespace notavox::recognition {

void NetworkOutputs::add(int64_t t0, int count, const float* onset, const float* frame, const float* velocity,
                         size_t stride) {
    if (count <= 0 || dropped_) return;
    const size_t size = size_t(3) * 88 * size_t(count);
    Block b;
    b.t0 = t0;
    b.count = count;
    try {
        if (bytes_ + size * sizeof(float) > limit_) throw std::bad_alloc();
        b.values.resize(size);
    } catch (const std::bad_alloc&) {
        blocks_.clear();
        blocks_.shrink_to_fit();
        bytes_ = 0;
        dropped_ = true;
        return;
    }
    bytes_ += size * sizeof(float);
    const float* src[3] = {onset, frame, velocity};
    for (int h = 0; h < 3; ++h)
        for (size_t k = 0; k < 88; ++k)
            std::memcpy(b.values.data() + (size_t(h) * 88 + k) * size_t(count), src[h] + k * stride,
                        size_t(count) * sizeof(float));
    frames_ = t0 + count;
    blocks_.push_back(std::move(b));
}

size_t NetworkOutputs::bytes() const { return bytes_; }

std::vector<TranscribedNote> NetworkOutputs::decode(const DecodeSettings& settings) const {
    NoteDecoder decoder(settings);
    for (const Block& b : blocks_) {
        const size_t plane = 88 * size_t(b.count);
        decoder.add(b.t0, b.count, b.values.data(), b.values.data() + plane, b.values.data() + 2 * plane,
                    size_t(b.count));
    }
    return decoder.finish(frames_);
}

DecodeSettings WithOverrides(DecodeSettings settings, const DecodeOverrides& overrides) {
    if (overrides.sensitivityPercent) {
        // The thresholds of the registers move with it and keep their distance.
        const float wanted = float(100 - std::clamp(*overrides.sensitivityPercent, 1, 99)) / 100.0f;
        if (wanted != settings.onsetThreshold) {
            const float shift = wanted - settings.onsetThreshold;
            for (float& t : settings.keyOnsetThresholds) t = std::clamp(t + shift, 0.01f, 0.99f);
        }
        settings.onsetThreshold = wanted;
    }
    if (overrides.shortestNoteMs) {
        // The user's shortest note holds for every key.
        settings.minFrames = std::max(1, int(std::lround(*overrides.shortestNoteMs / 10.0)));
        settings.keyMinFrames.clear();
    }
    return settings;
}

int SensitivityPercent(const DecodeSettings& settings) {
    return std::clamp(int(std::lround(100.0 - 100.0 * double(settings.onsetThreshold))), 1, 99);
}

int ShortestNoteMs(const DecodeSettings& settings) { return std::max(1, settings.minFrames) * 10; }

}  // namespace notavox::recognition
