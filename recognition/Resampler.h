// The recording as a mono float signal at 16 kHz, produced piece by piece.
//
// Mono: 16-bit v / 32768, 8-bit (v - 128) / 128, stereo (l + r) / 2; then the
// whole signal is scaled by 1 / its peak (silence stays zero). The rate
// change is libsamplerate's fastest sinc converter, which keeps the band up
// to 5 kHz flat and rejects what would fold back by more than 100 dB.
//
// Pieces of 2 s of output are converted each on their own, starting a margin
// of input before the piece and ending a margin after it, so that any piece
// can be made on any thread and a piece's samples are always the same.
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

    // Output samples [piece * kPieceLength, +kPieceLength) into out (zeros
    // past the end). False with a message when the converter failed.
    bool piece(int64_t piece, float* out, std::string& error) const;

private:
    const AudioDocument& doc_;
    float scale_;
    int64_t frames_;
    int64_t rate_;
    int64_t inStep_ = 1, outStep_ = 1;  // rate_ / g input samples give 16000 / g output samples
    int64_t margin_ = 0;               // input samples before and after a piece, a multiple of inStep_
    int64_t length_ = 0;
};

}  // namespace notavox::recognition
