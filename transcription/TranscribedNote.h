// One note found in a recording: MIDI pitch, start and end in seconds from
// the beginning of the recording, MIDI velocity 1..127.
#pragma once

namespace notavox {

struct TranscribedNote {
    int pitch;
    double onset;
    double offset;
    int velocity;
    bool operator==(const TranscribedNote&) const = default;
};

}  // namespace notavox
