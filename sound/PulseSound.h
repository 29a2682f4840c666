// The sound output straight to a PulseAudio sound server (PipeWire answers
// the same way), without the detour through ALSA.
//
// Each playback opens a stream of its own that lets the server keep up to
// two seconds and starts to play as soon as one block is in it; the output
// itself keeps at most kMostAheadFrames queued, by the server's own account
// of what is not yet heard. Through the ALSA bridge the stream's buffer is as
// short as the one PortAudio asked for, and a sink that was idle then plays
// out the two seconds it had prepared before the new stream is heard.
#pragma once

#include <memory>

#include "sound/SoundOutput.h"
#include "sound/ThreadedSound.h"

namespace notavox {

std::unique_ptr<SoundOutput> MakePulseOutput();

class PulseSound final : public ThreadedSound {
public:
    PulseSound() : ThreadedSound(MakePulseOutput()) {}
};

}  // namespace notavox
