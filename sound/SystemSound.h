// The program's sound device: straight to the sound server when one
// answers, otherwise through PortAudio. Every open looks again, so PLAY after
// the server was started or restarted finds it.
#pragma once

#include <memory>

#include "sound/SoundOutput.h"
#include "sound/ThreadedSound.h"

namespace notavox {

// `first` when it opens, otherwise `second`; used until it is closed.
std::unique_ptr<SoundOutput> MakeFirstOpenOutput(std::unique_ptr<SoundOutput> first,
                                                 std::unique_ptr<SoundOutput> second);

class SystemSound final : public ThreadedSound {
public:
    SystemSound();
};

}  // namespace notavox
