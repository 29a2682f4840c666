// The sound output that playback writes to: one stream of 44100 Hz, two
// channels, signed 16-bit, fed one block of 11025 frames (a quarter of a
// second) at a time. The program uses SystemSound (sound/SystemSound.h:
// the sound server, else PortAudio); tests put a recording fake in its place.
#pragma once

#include <cstdint>
#include <functional>

namespace notavox {

constexpr int32_t kPlaybackRate = 44100;
constexpr int32_t kPlaybackChannels = 2;
constexpr int32_t kBlockFrames = 11025;
constexpr int32_t kBlockSamples = kBlockFrames * kPlaybackChannels;
constexpr int32_t kBlockBytes = kBlockSamples * 2;  // 44100

// How long the device may take no part of a block before playback gives up
// on it (a sound server that went away must not hang the window).
constexpr int32_t kBlockWriteLimitMs = 2000;

// How often a waiting write() or drain() calls back (see Waiting).
constexpr int32_t kWaitingCallMs = 20;

enum class SoundWrite {
    written,   // the whole block is with the device
    timedOut,  // the device took no room for the block within the limit
    failed,    // the device reported an error
};

class SoundDevice {
public:
    virtual ~SoundDevice() = default;

    // Opens the default output in the playback format. False when there is
    // no sound system or no default output. Opening an open device is a no-op.
    virtual bool open() = 0;
    virtual bool isOpen() const = 0;

    // Starts the stream; the blocks written from now on are played in order.
    virtual bool start() = 0;

    // Called on the caller's thread about every kWaitingCallMs while write()
    // or drain() wait for the device, so that the caller can move the
    // playback cursor meanwhile.
    using Waiting = std::function<void()>;

    // Hands one block (kBlockSamples interleaved values, left first) to the
    // device and returns once it has all been taken, or once the device has
    // taken nothing for kBlockWriteLimitMs.
    virtual SoundWrite write(const int16_t* block, const Waiting& waiting) = 0;
    SoundWrite write(const int16_t* block) { return write(block, Waiting()); }

    // Returns once everything written so far has been played (bounded by the
    // same limit), so that the end of what was written is heard.
    virtual void drain(const Waiting& waiting) = 0;
    void drain() { drain(Waiting()); }

    // How many frames of what was written since start() have been heard, by
    // the sound system's own account of its played position (what it still
    // buffers and its latency to the speakers taken off); -1 when the device
    // cannot tell. May be asked at any time, also while write() waits.
    virtual int64_t heardFrames() const = 0;

    // Stops the stream at once; whatever is still buffered is dropped.
    virtual void stop() = 0;

    // Releases the device; a later open() may take it again.
    virtual void close() = 0;
};

}  // namespace notavox
