// The ten effects of the "Effekte" menu. Each works on the recording in place
// (the crossfade builds a new block), on the selection or, when nothing is
// selected, on the whole recording. Spans are given in seconds and turned into
// frames with the recording's sample rate (truncated). None reports an error:
// a range that comes out empty changes nothing.
#pragma once

#include <cstdint>

#include "audio/AudioDocument.h"

namespace notavox {

// The frames of an effect are doc.selectedFrames(): lo..hi, frames at or
// past frameCount are never touched.

// Trunc(seconds * sampleRate); 0 for a span below one frame or a bad value.
int64_t SpanFrames(double seconds, int32_t sampleRate);

// Default spans of the time-span dialog, in seconds.
inline constexpr double kEchoDefaultSeconds = 0.5;
inline constexpr double kFadeDefaultSeconds = 2.0;
inline constexpr double kCrossfadeDefaultSeconds = 2.0;

// "Echo...": feedback echo with gain 1/2 and a delay of `seconds`.
void Echo(AudioDocument& doc, double seconds);
// "Weich einblenden": linear fade-in over `seconds` from the range's start.
void FadeIn(AudioDocument& doc, double seconds);
// "Weich ausblenden": linear fade-out over `seconds` ending at the range's end.
void FadeOut(AudioDocument& doc, double seconds);
// "Ende auf Anfang überblenden": crossfades the last `seconds` onto the start,
// drops them and rotates the result into a seamless loop. Returns true when
// the recording was replaced (selection reset; the caller shows the whole
// recording); false when the span is below one frame, not shorter than the
// recording, or the new block cannot be allocated (nothing changes then).
bool CrossfadeEndOntoStart(AudioDocument& doc, double seconds);
// "Maximale Lautstärke": scales the range so that its peak reaches full level.
void MaximumVolume(AudioDocument& doc);
// "Lauter 10%" and "Leiser 10%".
void Louder10(AudioDocument& doc);
void Quieter10(AudioDocument& doc);
// "Rückwärts": mirrors the frames of the range.
void Reverse(AudioDocument& doc);
// "Schneller 10%" and "Langsamer 10%": change only the sample rate.
void Faster10(AudioDocument& doc);
void Slower10(AudioDocument& doc);

}  // namespace notavox
