// One output stream of a sound system in the playback format, driven from a
// single thread (the worker of a ThreadedSound). Every call may block in the
// sound system; ThreadedSound keeps the caller from waiting on one that hangs.
#pragma once

#include <cstdint>
#include <functional>

#include "sound/SoundDevice.h"

namespace notavox {

class SoundOutput {
public:
    // Called whenever the sound system took audio or otherwise moved on, so
    // that a slow but living device is told apart from one that hangs.
    using Progress = std::function<void()>;

    virtual ~SoundOutput() = default;

    // Opens the default output; true when it is open (also when it was).
    virtual bool open() = 0;
    // Starts playing what is written from now on; true when it runs (also
    // when it did). False when the stream is no longer usable (the sound
    // server went away): the caller then opens the output afresh once.
    virtual bool start() = 0;
    // Hands one block over; returns once it has all been taken. Paces the
    // caller: at most kMostAheadFrames are queued ahead of what is heard.
    virtual SoundWrite write(const int16_t* block, const Progress& progressed) = 0;
    // Returns once what was written has been played, bounded by the limit.
    virtual void drain(const Progress& progressed) = 0;
    // Frames of the running stream heard so far, by the sound system's own
    // account as last learnt in write() or drain(); -1 when not known. Safe
    // to ask from any thread while the worker is in a call.
    virtual int64_t heardFrames() const = 0;
    // Stops at once; buffered audio is dropped.
    virtual void stop() = 0;
    // Releases the output.
    virtual void close() = 0;
};

// At most this much audio is written ahead of what is heard, whatever buffer
// the sound system gave: a bridge to a sound server may hand out a buffer of
// seconds although a quarter of a second was asked for, and filling it would
// delay the sound (and the cursor) by all of it.
constexpr long kMostAheadFrames = long(kBlockFrames) * 3 / 2;

}  // namespace notavox
