// The notes made audible: a General MIDI sound font played by FluidSynth,
// rendered frame by frame at the recording's rate so that playback can take
// the notes exactly where it takes the recording's frames (same range,
// loop and cursor), alone or mixed with the recording.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sound/PlaybackLoop.h"
#include "transcription/TranscribedNote.h"

namespace notavox {

// Shown when no sound font is installed.
inline constexpr const char* kNoSoundFontText =
    "Für die Wiedergabe der Noten wurde keine General-MIDI-Klangdatei (SoundFont) gefunden. "
    "Bitte das Paket timgm6mb-soundfont installieren.";

// Where the sound font is looked for, in order: the small General MIDI font
// of Debian's timgm6mb-soundfont, then the system's default GM fonts.
std::vector<std::string> SoundFontSearchPaths();
// The first readable file of `paths`, or "" when there is none.
std::string FindSoundFont(const std::vector<std::string>& paths = SoundFontSearchPaths());

class NoteSynth {
public:
    NoteSynth();
    ~NoteSynth();
    NoteSynth(const NoteSynth&) = delete;
    NoteSynth& operator=(const NoteSynth&) = delete;

    // Loads the sound font and prepares the notes for a recording of
    // `sampleRate` frames per second (piano, program 0). False with a
    // German message in `error` when the synthesiser or the font fails.
    bool open(const std::string& fontPath, int32_t sampleRate, const std::vector<TranscribedNote>& notes,
              std::string& error);
    bool isOpen() const;

    // The synthesised stereo frame heard at frame `frame` of the recording.
    // Frames are asked for in playing order; a step back (the loop's restart)
    // or far ahead starts the notes again from there, with the notes that
    // sound at that moment struck anew.
    void frameAt(int64_t frame, float& left, float& right);

    // Level of the synthesiser's output (FluidSynth's gain).
    static constexpr double kGain = 1.0;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// What the play controls' choice puts out.
enum class PlaySource { Recording, Notes, RecordingAndNotes };

// Mixes the synthesised notes into playback. With both, the recording and
// the notes are each taken at kMixLevel, so that neither drowns the other;
// the sum is limited to 16 bits.
class NoteMixer : public FrameMixer {
public:
    NoteMixer(NoteSynth& synth, PlaySource source) : synth_(synth), source_(source) {}
    void mix(int64_t frame, int16_t& left, int16_t& right) override;
    static constexpr float kMixLevel = 0.6f;

private:
    NoteSynth& synth_;
    PlaySource source_;
};

}  // namespace notavox
