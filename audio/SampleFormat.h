// Sample format conversion of the recording: any combination of mono or
// stereo, 8 or 16 bits and a new rate. A new frame takes the old frame at or
// just before its time; stereo to mono keeps the left channel; the width
// changes by shifting bytes.
#pragma once

#include <cstdint>
#include <string>

#include "audio/AudioDocument.h"

namespace notavox {

struct SampleFormatTarget {
    bool stereo = false;
    bool sixteenBit = false;
    int32_t sampleRate = 44100;
};

enum class FormatResult {
    Converted,    // the recording was replaced by the converted one
    Unchanged,    // nothing to do: no recording, or already in the standard format
    NoSampleRate, // the recording's rate is 0 (or not positive): cannot be converted
    BadTarget,    // the target rate is not positive
    TooLarge,     // the new byte count would exceed 2147483647
    OutOfMemory,  // the new block could not be allocated
    UnsupportedRate,  // the recording's rate is outside the rates the analyses take
};

// The sample rates a recording may have to be opened or analysed. Below
// 1000 Hz a short file would stand for hours of sound (and the standard
// format would multiply it by up to 44100); above 192000 Hz no sound card
// records. Checked before anything is allocated.
constexpr int64_t kLowestSampleRate = 1000;
constexpr int64_t kHighestSampleRate = 192000;
inline bool SampleRateSupported(int64_t rate) { return rate >= kLowestSampleRate && rate <= kHighestSampleRate; }
// "Die Samplerate 1 Hz wird nicht unterstützt (erlaubt sind 1000 bis 192000 Hz)."
std::string UnsupportedSampleRateText(int64_t rate);

// The analysis format of the conversion to MIDI: 8-bit mono at 44100 Hz.
constexpr SampleFormatTarget kStandardFormat{false, false, 44100};

// The byte count a conversion to `target` gives, or -1 when the recording's
// rate (or the target's) is not positive.
int64_t ConvertedByteCount(const AudioDocument& doc, const SampleFormatTarget& target);

// Converts the recording to `target` and replaces it (the selection ends
// become 0). It also runs when the target equals the current format. With no
// recording it returns Unchanged; on any failure the recording keeps all its
// fields.
FormatResult ConvertSampleFormat(AudioDocument& doc, const SampleFormatTarget& target);

// Converts the recording to `target` into `out` (replaced as a whole) and
// leaves `doc` as it is. The same bytes as ConvertSampleFormat.
FormatResult ConvertSampleFormatInto(const AudioDocument& doc, const SampleFormatTarget& target,
                                     AudioDocument& out);

// True when the recording is 8-bit mono, whatever its rate: the conversion
// to MIDI then takes it as it is.
inline bool IsAnalysisFormat(const AudioDocument& doc) { return !doc.stereo && !doc.sixteenBit; }

// The standard-format step of the conversion to MIDI: a recording that is
// not 8-bit mono becomes 8-bit mono at 44100 Hz.
FormatResult ChangeFormatToStandart(AudioDocument& doc);

// The German message for a failed conversion; empty for success.
const char* FormatResultMessage(FormatResult result);
// The same naming the rate of a recording refused for it (UnsupportedRate).
std::string FormatResultMessage(FormatResult result, int64_t rate);

}  // namespace notavox
