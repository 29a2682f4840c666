// Times the computation of one playback block (11025 output frames, a
// quarter of a second of sound) for each source format and a few rates: the
// playback loop has that quarter second for the block, its pump and the
// cursor.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/AudioDocument.h"
#include "sound/PlaybackLoop.h"

using namespace notavox;
using Clock = std::chrono::steady_clock;

static AudioDocument makeRecording(int32_t rate, bool stereo, bool sixteenBit, int32_t seconds) {
    const int32_t frameBytes = (stereo ? 2 : 1) * (sixteenBit ? 2 : 1);
    const int32_t bytes = rate * seconds * frameBytes;
    SampleBlock block = allocateBlock(size_t(bytes));
    uint32_t x = 12345;
    for (int32_t i = 0; i < bytes; ++i) {
        x = x * 1664525u + 1013904223u;
        block[size_t(i)] = uint8_t(x >> 24);
    }
    AudioDocument doc;
    doc.replace(std::move(block), bytes, rate, stereo, sixteenBit);
    return doc;
}

int main() {
    std::vector<int16_t> block(kBlockSamples);
    const int blocks = 4000;
    std::printf("one playback block (11025 frames, 250 ms of sound), average of %d:\n", blocks);
    struct Case {
        const char* name;
        int32_t rate;
        bool stereo, sixteenBit;
    };
    for (const Case& c : {Case{"16-bit stereo 44100 Hz", 44100, true, true}, Case{"16-bit mono 44100 Hz", 44100, false, true},
                          Case{"8-bit stereo 22050 Hz", 22050, true, false}, Case{"8-bit mono 11025 Hz", 11025, false, false},
                          Case{"16-bit stereo 48000 Hz", 48000, true, true}}) {
        const AudioDocument doc = makeRecording(c.rate, c.stereo, c.sixteenBit, 60);
        const int32_t end = doc.frameCount();
        double position = 0;
        int64_t sink = 0;
        const auto a = Clock::now();
        for (int b = 0; b < blocks; ++b) {
            if (position >= end) position = 0;
            sink += fillBlock(doc, end, position, block.data());
        }
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - a).count() / blocks;
        std::printf("  %-24s %8.1f us  (%.3f %% of the block's play time)%s\n", c.name, us, us / 2500.0,
                    sink == 42 ? " " : "");
    }
    return 0;
}
