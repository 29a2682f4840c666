#include "recognition/NoteDecoder.h"

#include <algorithm>
#include <cmath>

namespace notavox::recognition {

NoteDecoder::NoteDecoder(const DecodeSettings& settings) : settings_(settings) {
    for (size_t k = 0; k < 88; ++k) {
        onsetThreshold_[k] = k < settings.keyOnsetThresholds.size() ? settings.keyOnsetThresholds[k] : settings.onsetThreshold;
        frameThreshold_[k] = k < settings.keyFrameThresholds.size() ? settings.keyFrameThresholds[k] : settings.frameThreshold;
        minFrames_[k] = k < settings.keyMinFrames.size() ? settings.keyMinFrames[k] : settings.minFrames;
    }
}

void NoteDecoder::end(int key, int64_t t) {
    KeyState& s = keys_[size_t(key)];
    if (s.start < 0) return;
    if (t - s.start >= minFrames_[size_t(key)] && t > s.start) {
        const float v = std::nearbyint(127.0f * s.startVelocity);
        const int velocity = int(std::clamp(v, 1.0f, 127.0f));
        notes_.push_back({21 + key, double(s.start) * 0.01, double(t) * 0.01, velocity});
        starts_.push_back({s.start, s.startOnset, velocity});
    }
    s.start = -1;
}

// Frame t (the pending one) of `key` is settled now that the next frame's
// onset value is known.
void NoteDecoder::step(int key, int64_t t, float nextOnset) {
    KeyState& s = keys_[size_t(key)];
    const bool candidate = s.onset >= onsetThreshold_[size_t(key)] && s.onset >= s.before && s.onset > nextOnset;
    if (candidate) {
        end(key, t);
        s.start = t;
        s.startVelocity = s.velocity;
        s.startOnset = s.onset;
    } else if (s.start >= 0 && s.frame < frameThreshold_[size_t(key)]) {
        end(key, t);
    }
    s.before = s.onset;
}

void NoteDecoder::add(int64_t t0, int count, const float* onset, const float* frame, const float* velocity,
                      size_t stride) {
    for (int key = 0; key < 88; ++key) {
        KeyState& s = keys_[size_t(key)];
        const float* on = onset + size_t(key) * stride;
        const float* fr = frame + size_t(key) * stride;
        const float* ve = velocity + size_t(key) * stride;
        for (int i = 0; i < count; ++i) {
            if (s.havePending) step(key, t0 + i - 1, on[i]);
            s.onset = on[i];
            s.frame = fr[i];
            s.velocity = ve[i];
            s.havePending = true;
        }
    }
    pending_ = t0 + count - 1;
}

std::vector<TranscribedNote> NoteDecoder::finish(int64_t T) {
    for (int key = 0; key < 88; ++key) {
        KeyState& s = keys_[size_t(key)];
        if (s.havePending) step(key, pending_, 0.0f);
        s.havePending = false;
        end(key, T);
    }
    if (settings_.overtoneRatio > 0.0f) dropOvertones();
    std::sort(notes_.begin(), notes_.end(), [](const TranscribedNote& a, const TranscribedNote& b) {
        return a.onset != b.onset ? a.onset < b.onset : a.pitch < b.pitch;
    });
    return std::move(notes_);
}

void NoteDecoder::dropOvertones() {
    std::array<std::vector<Start>, 88> byKey;  // every note's start, per key in time order
    for (size_t i = 0; i < notes_.size(); ++i) byKey[size_t(notes_[i].pitch - 21)].push_back(starts_[i]);
    for (auto& starts : byKey)
        std::sort(starts.begin(), starts.end(), [](const Start& a, const Start& b) { return a.frame < b.frame; });
    const double ratio = settings_.overtoneRatio;
    const double loudness = settings_.overtoneVelocity;
    const int64_t near = settings_.overtoneFrames;
    const std::vector<int32_t> intervals =
        settings_.overtoneIntervals.empty() ? std::vector<int32_t>{12, 19, 24} : settings_.overtoneIntervals;
    size_t kept = 0;
    for (size_t i = 0; i < notes_.size(); ++i) {
        const Start& own = starts_[i];
        bool overtone = false;
        for (const int interval : intervals) {
            const int lower = notes_[i].pitch - 21 - interval;
            if (lower < 0) continue;
            const std::vector<Start>& starts = byKey[size_t(lower)];
            auto it = std::lower_bound(starts.begin(), starts.end(), own.frame - near,
                                       [](const Start& s, int64_t frame) { return s.frame < frame; });
            for (; it != starts.end() && it->frame <= own.frame + near; ++it)
                if (double(own.onset) < ratio * double(it->onset) &&
                    (loudness <= 0.0 || double(own.velocity) < loudness * double(it->velocity)))
                    overtone = true;
        }
        if (!overtone) {
            notes_[kept] = notes_[i];
            starts_[kept] = own;
            ++kept;
        }
    }
    notes_.resize(kept);
    starts_.resize(kept);
}

}  // namespace notavox::recognition
