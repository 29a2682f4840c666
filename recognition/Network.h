// Inference of the note recogniser: harmonic stack and five convolution
// layers, then the onset, frame and velocity heads, 88 keys each.
//
// The network runs on tiles of frames. A tile recomputes the 9 frames of
// context on either side from the features, so every output is the same
// whatever the tiling and the thread that computes it. The loops run across
// sixteen frames at a time; each output element is its bias plus the terms in
// the order of the weight tensor (input channel, time tap, frequency tap),
// rounded after every multiplication and every addition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "recognition/Model.h"

namespace notavox::recognition {

constexpr int kContext = 9;  // frames of context on either side

class Network {
public:
    explicit Network(const Model& model);
    ~Network();

    // Frames one tile produces.
    static int tileFrames();

    // Working memory of one thread.
    struct Scratch;
    std::unique_ptr<Scratch, void (*)(Scratch*)> makeScratch() const;

    // Output frames [t0, t0 + count), count <= tileFrames(), of a recording of
    // T frames. Feature j of frame t is feat[j * featStride + t - featT0] for
    // every frame of [t0 - 9, t0 + count + 9) inside [0, T). Output key k of
    // frame t goes to onset/frame/velocity[k * outStride + t - outT0].
    void runTile(Scratch& s, const float* feat, size_t featStride, int64_t featT0, int64_t T, int64_t t0, int count,
                 float* onset, float* frame, float* velocity, size_t outStride, int64_t outT0) const;

    // The whole network on features [T][294]; outputs [T][88] each.
    void run(const std::vector<float>& feat, int64_t T, std::vector<float>& onset, std::vector<float>& frame,
             std::vector<float>& velocity) const;

private:
    int c1_, c2_, c3_, c2Pad_, c3Pad_;
    std::vector<float> w1_, b1_, w2_, b2_, w3_, b3_, w4_, b4_, w5_, b5_;
    std::vector<float> headW_[3], headB_[3];
};

}  // namespace notavox::recognition
