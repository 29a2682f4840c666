// The onset-strength envelope of a recording: how strongly new sound starts
// in each 10 ms frame. The signal is mixed to mono and reduced to about
// 11 kHz by averaging; each frame of 256 samples (Hann window, centred on the
// frame's time) is transformed, its magnitudes are summed into bands of a
// sixth of an octave, compressed with a logarithm, and the rises of the
// bands since the previous frame are added up (log spectral flux).
// Frames are independent of one another, so the work is split over the
// cores with the same result for any thread count.
#pragma once

#include <cstddef>
#include <vector>

#include "audio/AudioDocument.h"

namespace notavox {

struct OnsetEnvelope {
    double frameRate = 0;        // frames per second (about 100)
    std::vector<float> flux;     // all bands
    std::vector<float> lowFlux;  // bands below 250 Hz: bass onsets

    size_t size() const { return flux.size(); }
    // The time of frame i in seconds (the centre of its window).
    double time(double i) const { return i / frameRate; }
};

// From a mono signal at `sampleRate`. threads 0 means every core.
OnsetEnvelope ComputeOnsetEnvelope(const float* mono, size_t count, double sampleRate, unsigned threads = 0);
// From the recording in any of its formats (both channels mixed).
OnsetEnvelope ComputeOnsetEnvelope(const AudioDocument& doc, unsigned threads = 0);

// The envelope prepared for beat tracking: the local mean (one second wide)
// removed, negative values set to 0, scaled to unit standard deviation,
// smoothed over about 3 frames, and values below 0.05 (the noise of fading
// tails and near silence) set to 0. Empty for an empty envelope.
std::vector<float> BeatNovelty(const std::vector<float>& flux, double frameRate);

}  // namespace notavox
