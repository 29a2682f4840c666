// Playback of the recording through a sound device: the range from the
// selection, the nearest-frame resampling to 44100 Hz stereo 16-bit, the
// cursor position, and the loop that runs a whole playback on the caller's
// thread, pumping the message queue once per block.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>

#include "audio/AudioDocument.h"
#include "audio/OperationHost.h"
#include "audio/Rounding.h"
#include "sound/SoundDevice.h"

namespace notavox {

// The source frame `frame` as one stereo 16-bit output frame. The caller
// makes sure the frame lies inside the recording.
void sourceFrame(const AudioDocument& doc, int32_t frame, int16_t& left, int16_t& right);

// Another sound heard with the recording (the synthesised notes). It is
// asked for every source frame played inside the range, in playing order,
// and replaces the recording's values by what is to be heard there.
class FrameMixer {
public:
    virtual ~FrameMixer() = default;
    virtual void mix(int64_t frame, int16_t& left, int16_t& right) = 0;
};

// Fills one output block (kBlockSamples values) from the recording, starting
// at play position `position` (in source frames) and advancing it by
// sampleRate / 44100 per output frame. Frames at or past `end` or past the
// recording are silence. Returns the source frame taken for the block's last
// output frame (rounded position, whether or not it was inside). A mixer,
// when given, shapes every frame inside.
int64_t fillBlock(const AudioDocument& doc, int32_t end, double& position, int16_t* block,
                  FrameMixer* mixer = nullptr);

// The view column in which the cursor for sample index `sampleIndex` stands,
// for zoom `zoom` (values below 1 count as 1) and scroll position `scroll`.
int64_t cursorColumn(int64_t sampleIndex, int32_t zoom, int32_t scroll);

// Zoom and scroll position of the waveform view at the moment of asking.
struct ViewScroll {
    int32_t zoom = 1;
    int32_t position = 0;
};

// Where the cursor stands: the source frame being heard, worked out from the
// device's account of its played position and the blocks written so far.
class HeardPosition {
public:
    explicit HeardPosition(FrameRange range) : range_(range) {}

    // One block was handed to the device: its first frame played source
    // position `position`, each further one `step` more (as fillBlock
    // advances), and frames at or past `limit` are silence. The first block
    // of a playback is the leading silence (step 0 at the range's start).
    void written(double position, double step, int64_t limit);

    // The source frame heard when the device has played `heard` output frames
    // of the blocks written; a device that cannot tell (-1) is taken to
    // play the block before the last one written. Silence after the range's
    // end stands at the end: the cursor stops there.
    int64_t sourceFrame(int64_t heard) const;

private:
    struct Block {
        double position;
        double step;
        int64_t limit;
    };
    FrameRange range_;
    std::deque<Block> blocks_;  // the last ones written, from block `first_` on
    int64_t first_ = 0;
    int64_t count_ = 0;         // blocks written in all
};

struct PlaybackCallbacks {
    // Whether "In einer Schleife kontinuierlich abspielen" is ticked now.
    std::function<bool()> loopChecked;
    // The recording as it is now; asked again after every turn of the
    // message loop, because a handler that ran may have replaced it.
    std::function<const AudioDocument&()> recording;
    // The view's zoom and scroll position now.
    std::function<ViewScroll()> view;
    // Moves the cursor line to view column `column`: the sample being
    // heard. Called whenever that column changes, also while the device
    // is waited for.
    std::function<void(int64_t column)> drawCursor;
    // What is heard besides (or instead of) the recording; null: the
    // recording alone.
    FrameMixer* mixer = nullptr;
};

enum class PlaybackEnd {
    finished,     // the range was played to its end (and heard)
    stopped,      // stopRequested was set
    deviceFailed, // the device stopped taking blocks
    notStarted,   // the device would not start (nothing was played)
};

// Plays the range of the recording as it is when called. Clears the host's
// stop flag, starts the device with one block of silence, then per block:
// pumps messages, reads the recording afresh, fills and writes the block, and
// restarts the range in loop mode; the cursor follows what the device says
// it has played, while it is waited for too. Ends when the range
// is exhausted outside loop mode (after the device has played everything),
// when the stop flag is set, or when the device fails (as if STOP had been
// pressed). The device is stopped when this returns.
PlaybackEnd runPlayback(SoundDevice& device, OperationHost& host, const PlaybackCallbacks& callbacks);

}  // namespace notavox
