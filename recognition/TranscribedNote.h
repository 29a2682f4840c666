// One note found by the accurate analysis: MIDI pitch, onset and offset in
// seconds from the start of the recording, MIDI velocity 1..127.
#pragma once

namespace notavox {

struct TranscribedNote {
    int pitch;
    double onset;
    double offset;
    int velocity;
};

}  // namespace notavox
