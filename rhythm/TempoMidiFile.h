// The tempo-mapped MIDI file of the accurate analysis: the program's layout
// (format 1, 16 tracks, 500 ticks per quarter note, tracks 1..15 with one
// program change each) with track 0 holding, before its notes, the time
// signature, the key signature and the tempo map. Track 0 is the first track,
// where readers look for the tempo map of a format 1 file; keeping the notes
// there too leaves the layout of the program's other MIDI files unchanged.
// All notes go to channel 0, so that a notation program shows them as one
// part. Without quantisation every note starts and ends within a millisecond
// of its time in the recording.
#pragma once

#include <string>
#include <vector>

#include "rhythm/KeyEstimate.h"
#include "rhythm/Metre.h"
#include "rhythm/Quantize.h"
#include "rhythm/TempoMap.h"
#include "transcription/NoteList.h"
#include "transcription/TranscribedNote.h"

namespace notavox {

struct TempoMidiOptions {
    QuantizeGrid grid = QuantizeGrid::Off;
    int strengthPercent = 100;
};

// The notes in ticks under the file's tempo map, as the file holds them.
struct TempoMappedNotes {
    TempoMap map;
    std::vector<TickNote> notes;  // in the order of the notes given, quantised when asked
    int64_t upbeatTicks = 0;      // a short first bar (BeatGrid::upbeatTicks), 0 for none
};

// Under the map of the beats (BuildBeatGrid). Without quantisation the map
// gets anchors where a note would be more than a millisecond off its time.
TempoMappedNotes PlaceNotesOnBeats(const std::vector<TranscribedNote>& notes, const std::vector<double>& beats,
                                   const Metre& metre, const TempoMidiOptions& options = {});
// Under the given map as it is (say a constant tempo): each note at its
// nearest ticks; a quantisation grid counts from the bar line at `barLine`.
TempoMappedNotes PlaceNotesUnder(const std::vector<TranscribedNote>& notes, const TempoMap& map,
                                 const TempoMidiOptions& options = {}, int64_t barLine = 0);

// Replaces the song by a fresh one and fills its track 0 with the
// signatures, the map's tempo events and the notes. An upbeat gets a time
// signature of its own length (in sixteenths, reduced: 1/4, 3/8, 5/16) at
// tick 0 and the metre's at the first whole bar, the way notation programs
// write a short first bar.
void FillTempoMappedSong(Song& song, const TempoMappedNotes& placed, const Metre& metre, const KeyEstimate& key);

}  // namespace notavox
