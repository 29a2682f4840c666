// The recording as a mono float signal at 16 kHz, produced piece by piece.
//
// Mono: 16-bit v / 32768, 8-bit (v - 128) / 128, stereo (l + r) / 2; then the
// whole signal is scaled by 1 / its peak (silence stays zero). The rate
// changes by up / down (16000 / rate in lowest terms) through one fixed
// windowed-sinc low-pass of 20 max(up, down) + 1 taps at the raised rate
// (cut-off at the lower Nyquist frequency, Kaiser window with beta 5, gain up),
// centred on each output sample, with zeros outside the recording: the
// definition the training's front end (features.py) uses, so the network sees
// the features it learnt from. Each output sample is a dot product of about 20
// taps times down / up (56 at 44.1 kHz) with the input, in one fixed order.
//
// Pieces of 2 s of output are converted each on their own from the input
// samples their taps reach, so that any piece can be made on any thread and a
// piece's samples are always the same.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/AudioDocument.h"

namespace notavox::recognition {

// The largest |mono sample| of the recording, on `threads` threads.
float PeakLevel(const AudioDocument& doc, unsigned threads);

// Mono samples [first, first + count) of the recording times `scale`.
void MonoSamples(const AudioDocument& doc, int64_t first, int64_t count, float scale, float* out);

class Resampler {
public:
    // `scale` is 1 / peak (0 for silence).
    Resampler(const AudioDocument& doc, float scale);

    static constexpr int64_t kPieceLength = 32000;  // output samples of one piece

    // Length of the 16 kHz signal: ceil(frames * 16000 / rate).
    int64_t length() const { return length_; }
    int64_t pieceCount() const { return (length_ + kPieceLength - 1) / kPieceLength; }

    // The largest max(up, down) the filter is made for (4 million taps);
    // every common rate needs at most 640. A rate beyond it (a prime rate
    // above 200 kHz, say) is refused rather than taking gigabytes.
    static constexpr int64_t kLargestStep = 200000;

    // Output samples [piece * kPieceLength, +kPieceLength) into out (zeros
    // past the end). False with a message for a refused rate.
    bool piece(int64_t piece, float* out, std::string& error) const;

    // The low-pass filter at the raised rate (for tests): 20 max(up, down) + 1
    // taps, times up. Empty when the rate is 16 kHz.
    static std::vector<double> Design(int64_t up, int64_t down);

private:
    const AudioDocument& doc_;
    float scale_;
    int64_t frames_;
    int64_t rate_;
    int64_t up_ = 1, down_ = 1;  // 16000 / rate_ in lowest terms
    int64_t half_ = 0;           // the filter's centre tap
    int64_t taps_ = 0;           // taps per output sample, a multiple of 16 (zeros at the front)
    std::vector<float> phases_;  // up_ rows of taps_: row p for output samples at phase p
    int64_t length_ = 0;
    bool refused_ = false;
};

}  // namespace notavox::recognition
