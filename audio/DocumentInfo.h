// The texts of the window's information panel: what the recording is, how
// long it is and what is selected. Times are written m:ss.mmm.
#pragma once

#include <cstdint>
#include <string>

#include "audio/AudioDocument.h"

namespace notavox {

// m:ss.mmm of a time in milliseconds (minutes not limited; negative as 0).
std::string TimeText(int64_t milliseconds);
// The time of a sample index (both channels counted), truncated to the
// millisecond; 0 when the recording has no rate.
int64_t SampleIndexMilliseconds(const AudioDocument& doc, int64_t sampleIndex);

// "44100 Hz, 16 Bit, Stereo"
std::string FormatText(const AudioDocument& doc);
// "44100 Hz, 16 Bit, Stereo – 3:25.123"; empty without a recording.
std::string RecordingText(const AudioDocument& doc);
// "Auswahl 0:01.000–0:02.500 (0:01.500)", or "Keine Auswahl"; empty without
// a recording.
std::string SelectionText(const AudioDocument& doc);

}  // namespace notavox
