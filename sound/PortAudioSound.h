// The sound output through PortAudio: a blocking output stream on the
// default output (through ALSA to PulseAudio, PipeWire or the hardware).
// The program uses it where no sound server answers (see SystemSound).
#pragma once

#include <memory>

#include "sound/SoundOutput.h"
#include "sound/ThreadedSound.h"

namespace notavox {

std::unique_ptr<SoundOutput> MakePortAudioOutput();

class PortAudioSound final : public ThreadedSound {
public:
    PortAudioSound() : ThreadedSound(MakePortAudioOutput()) {}
};

}  // namespace notavox
