#include "sound/PlaybackLoop.h"

#include <algorithm>
#include <cmath>
#include <limits>
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

void HeardPosition::written(double position, double step, int64_t limit) {
    blocks_.push_back({position, step, limit});
    ++count_;
    // What is heard lags what is written by a few blocks at most; half a
    // minute of them is more than any sound system keeps.
    while (blocks_.size() > 120) {
        blocks_.pop_front();
        ++first_;
    }
}

int64_t HeardPosition::sourceFrame(int64_t heard) const {
    if (blocks_.empty()) return range_.lo;
    if (heard < 0) heard = std::max<int64_t>(0, (count_ - 2) * kBlockFrames);
    int64_t b = heard / kBlockFrames;
    int64_t k = heard % kBlockFrames;
    if (b < first_) {
        b = first_;
        k = 0;
    } else if (b >= count_) {
        // All of it was heard: the position after the last frame.
        b = count_ - 1;
        k = kBlockFrames;
    }
    const Block& block = blocks_[static_cast<size_t>(b - first_)];
    const int64_t p = roundHalfEven(block.position + static_cast<double>(k) * block.step);
    return std::min(p, block.limit);
}

PlaybackEnd runPlayback(SoundDevice& device, OperationHost& host, const PlaybackCallbacks& callbacks) {
    // The selected frames [lo, hi), the frame at hi left out.
    const FrameRange range = callbacks.recording().selectedFrames();
    double position = double(range.lo);
    std::vector<int16_t> block(kBlockSamples, 0);
    host.setStopRequested(false);

    HeardPosition heard(range);
    int64_t drawn = std::numeric_limits<int64_t>::min();
    const auto drawHeard = [&](int64_t heardFrames) {
        const AudioDocument& doc = callbacks.recording();
        const int64_t frame = heard.sourceFrame(heardFrames);
        const ViewScroll view = callbacks.view();
        const int64_t column = cursorColumn(doc.stereo ? frame * 2 : frame, view.zoom, view.position);
        if (column == drawn) return;
        drawn = column;
        callbacks.drawCursor(column);
    };
    const SoundDevice::Waiting moveCursor = [&] { drawHeard(device.heardFrames()); };

    // The first block is silence: what is computed from here on is heard one
    // block after it was computed, or later, as the device tells.
    heard.written(double(range.lo), 0, range.lo);
    if (!device.start() || device.write(block.data()) != SoundWrite::written) {
        device.stop();
        host.setStopRequested(true);
        return PlaybackEnd::notStarted;
    }
    moveCursor();

    PlaybackEnd outcome = PlaybackEnd::finished;
    for (;;) {
        host.ProcessMessages();
        const AudioDocument& doc = callbacks.recording();
        const int64_t frames = doc.frameCount();
        const double first = position;
        (void)fillBlock(doc, int32_t(range.hi), position, block.data(), callbacks.mixer);
        heard.written(first, static_cast<double>(doc.sampleRate) / kPlaybackRate, std::min<int64_t>(range.hi, frames));

        if (device.write(block.data(), moveCursor) != SoundWrite::written) {
            // A device that stops taking blocks ends playback like STOP.
            host.setStopRequested(true);
            outcome = PlaybackEnd::deviceFailed;
            break;
        }
        moveCursor();
        const bool exhausted = position >= range.hi || position >= static_cast<double>(frames);
        if (exhausted && callbacks.loopChecked()) position = double(range.lo);
        if (host.stopRequested()) {
            outcome = PlaybackEnd::stopped;
            break;
        }
        if (position >= range.hi || position >= static_cast<double>(frames)) break;
    }

    if (outcome == PlaybackEnd::finished) {
        device.drain(moveCursor);
        // Everything was played: a device that cannot tell has its cursor
        // at the end as well.
        const int64_t played = device.heardFrames();
        drawHeard(played < 0 ? std::numeric_limits<int64_t>::max() : played);
    }
    device.stop();
    return outcome;
}

}  // namespace notavox
