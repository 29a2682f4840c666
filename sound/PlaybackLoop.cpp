#include "sound/PlaybackLoop.h"

#include <cmath>
#include <vector>

namespace notavox {

namespace {

int16_t word(const uint8_t* p) { return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8))); }

}  // namespace

void sourceFrame(const AudioDocument& doc, int32_t frame, int16_t& left, int16_t& right) {
    const uint8_t* p = doc.sampleData.get() + static_cast<size_t>(frame) * static_cast<size_t>(doc.bytesPerFrame());
    if (doc.sixteenBit) {
        left = word(p);
        right = doc.stereo ? word(p + 2) : left;
    } else {
        left = level8To16(p[0]);
        right = doc.stereo ? level8To16(p[1]) : left;
    }
}

int64_t fillBlock(const AudioDocument& doc, int32_t end, double& position, int16_t* block, FrameMixer* mixer) {
    const int64_t frames = doc.sampleData ? doc.frameCount() : 0;
    int64_t p = 0;
    for (int32_t k = 0; k < kBlockFrames; ++k) {
        p = roundHalfEven(position);
        int16_t left = 0;
        int16_t right = 0;
        if (p >= 0 && p < end && p < frames) {
            sourceFrame(doc, static_cast<int32_t>(p), left, right);
            if (mixer) mixer->mix(p, left, right);
        }
        block[2 * k] = left;
        block[2 * k + 1] = right;
        position += static_cast<double>(doc.sampleRate) / kPlaybackRate;
    }
    return p;
}

int64_t cursorColumn(int64_t sampleIndex, int32_t zoom, int32_t scroll) {
    const int64_t z = zoom < 1 ? 1 : zoom;
    return (sampleIndex - z * scroll) / z;
}

PlaybackEnd runPlayback(SoundDevice& device, OperationHost& host, const PlaybackCallbacks& callbacks) {
    // The selected frames [lo, hi), the frame at hi left out.
    const FrameRange range = callbacks.recording().selectedFrames();
    double position = double(range.lo);
    std::vector<int16_t> block(kBlockSamples, 0);
    host.setStopRequested(false);

    // The first block is silence: what is computed from here on is heard one
    // block after it was computed.
    if (!device.start() || device.write(block.data()) != SoundWrite::written) {
        device.stop();
        host.setStopRequested(true);
        return PlaybackEnd::notStarted;
    }

    PlaybackEnd outcome = PlaybackEnd::finished;
    for (;;) {
        host.ProcessMessages();
        const AudioDocument& doc = callbacks.recording();
        const int64_t frames = doc.frameCount();
        const int64_t last = fillBlock(doc, int32_t(range.hi), position, block.data(), callbacks.mixer);

        const ViewScroll view = callbacks.view();
        callbacks.drawCursor(cursorColumn(doc.stereo ? last * 2 : last, view.zoom, view.position));

        if (device.write(block.data()) != SoundWrite::written) {
            // A device that stops taking blocks ends playback like STOP.
            host.setStopRequested(true);
            outcome = PlaybackEnd::deviceFailed;
            break;
        }
        const bool exhausted = position >= range.hi || position >= static_cast<double>(frames);
        if (exhausted && callbacks.loopChecked()) position = double(range.lo);
        if (host.stopRequested()) {
            outcome = PlaybackEnd::stopped;
            break;
        }
        if (position >= range.hi || position >= static_cast<double>(frames)) break;
    }

    if (outcome == PlaybackEnd::finished) device.drain();
    device.stop();
    return outcome;
}

}  // namespace notavox
