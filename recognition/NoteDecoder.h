// Notes from the network's outputs, frame by frame, so that a recording can
// be decoded in parts with the same result as in one go.
//
// A key's onset candidate is a frame whose onset value reaches the key's onset
// threshold, is at least the previous frame's and above the next frame's
// (missing neighbours count as 0). A note starts there and lasts while the
// frame value stays at or above the key's frame threshold; it ends at the
// first frame below it, at the key's next candidate (which starts a new note)
// or at the end. Notes shorter than the key's minimum number of frames are
// dropped, and so are overtones when the settings ask for it (see
// DecodeSettings), once every note is known.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "recognition/Model.h"
#include "transcription/TranscribedNote.h"

namespace notavox::recognition {

class NoteDecoder {
public:
    explicit NoteDecoder(const DecodeSettings& settings);

    // Frames [t0, t0 + count) in order, continuing the previous call. Key k of
    // frame t is at onset/frame/velocity[k * stride + t - t0].
    void add(int64_t t0, int count, const float* onset, const float* frame, const float* velocity, size_t stride);
    // Ends the recording after frame T - 1 and returns every note, ordered by
    // onset, then pitch.
    std::vector<TranscribedNote> finish(int64_t T);

private:
    struct KeyState {
        bool havePending = false;  // frame `pending` seen, its candidacy open
        float before = 0.0f;       // onset value of frame pending - 1
        float onset = 0.0f, frame = 0.0f, velocity = 0.0f;  // values of frame `pending`
        int64_t start = -1;        // start of the sounding note, or -1
        float startVelocity = 0.0f;
        float startOnset = 0.0f;
    };
    struct Start {
        int64_t frame;
        float onset;  // the onset value there
        int velocity;
    };
    void step(int key, int64_t t, float nextOnset);
    void end(int key, int64_t t);
    void dropOvertones();

    DecodeSettings settings_;
    // The settings per key: the key's own where the settings have them.
    std::array<float, 88> onsetThreshold_{}, frameThreshold_{};
    std::array<int32_t, 88> minFrames_{};
    std::array<KeyState, 88> keys_{};
    int64_t pending_ = 0;  // the frame whose candidacy waits for the next one
    std::vector<TranscribedNote> notes_;
    std::vector<Start> starts_;  // of notes_, index by index
};

}  // namespace notavox::recognition
