// The transcription's MIDI model: the NoteEvent record, the 16-track Song and
// the operations that move notes between track 0 and the editable note list.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "transcription/DynaArray.h"

namespace notavox {

// One MIDI event. In the editable list `time` is an absolute time in ms and
// `duration` a note length in ms; in a track `time` is a delta in ticks.
struct NoteEvent {
    uint8_t kind;      // high nibble of the status: 8 off, 9 on, 12 program, 15 meta
    uint8_t metaType;  // meta type when kind is 15; 47 is the end of track
    uint8_t channel;   // 0..15
    uint8_t dataLength;
    uint32_t time;
    uint32_t duration;
    union {
        uint8_t bytes[4];  // the data itself when dataLength <= 4
        uint8_t* block;    // an owned block of dataLength bytes otherwise
    } data;
    int32_t window;  // analysis window of a detected note, else 0
};

constexpr uint8_t kNoteOff = 8;
constexpr uint8_t kNoteOn = 9;
constexpr uint8_t kProgramChange = 12;
constexpr uint8_t kMetaEvent = 15;
constexpr uint8_t kEndOfTrack = 47;

inline bool isEndOfTrack(const NoteEvent& e) { return e.kind == kMetaEvent && e.metaType == kEndOfTrack; }
inline const uint8_t* eventData(const NoteEvent& e) { return e.dataLength > 4 ? e.data.block : e.data.bytes; }

// A copy of `e` with its own duplicate of a data block above 4 bytes.
NoteEvent CopyNoteEvent(const NoteEvent& e);
// Frees the data block of a record above 4 bytes.
void FreeNoteEventData(NoteEvent& e);
// Frees the data blocks of every record of a list of NoteEvents.
void FreeListData(TDynaArray& list);
// A note-on or note-off of `pitch` (0..127) on channel pitch mod 8, at `time`
// with duration 0 and window 0.
NoteEvent MakeNoteEvent(uint8_t kind, int pitch, int velocity, uint32_t time);

// The song: its track list (each element holds a track, a TDynaArray of
// NoteEvents with delta times, in its first field), the division and the
// editable list of the conversion in progress.
struct Song {
    Song();   // a fresh song (MidiNeu)
    ~Song();  // DelAllTracks
    Song(const Song&) = delete;
    Song& operator=(const Song&) = delete;

    void* trackRecord = nullptr;  // mirror of the track list's selected element
    void* eventRecord = nullptr;  // mirror shared by the tracks
    void* editRecord = nullptr;   // mirror of the editable list
    TDynaArray trackList;
    uint16_t division = 500;
    uint32_t microsPerTick = 1000;
    uint16_t format = 1;
    std::unique_ptr<TDynaArray> editList;

    int32_t trackCount() const { return trackList.count(); }
    TDynaArray* track(int32_t index) const;  // null when there is no such track
    // Adds a new empty track at the end and returns it.
    TDynaArray* addTrack();
};

// Releases every track and rebuilds 16 fresh ones: track i holds a program
// change to program 0 on channel i and an end of track.
void MidiNeu(Song& song);
// Frees every track with its events' data blocks and clears the track list.
void DelAllTracks(Song& song);
// Builds the editable list from track 0 with absolute times; each note-on is
// paired with the next note-off of its channel to give its duration.
void MakeEditable(Song& song);
// Turns the editable list into track 0: joins detections of consecutive
// windows, drops records shorter than 100 ms, adds the note-offs, sorts and
// writes delta times; then destroys the editable list. Linear apart from the
// sort, with the same result as the step-by-step description.
void KonvertEditedTrack(Song& song);

// The end of KonvertEditedTrack: numbers the records (absolute times in ms)
// 1, 2, ... in their order, keeping the number in `duration`, sorts them by
// time, equal times by descending number, and makes them track 0 with delta
// ticks and one end of track at its end. Their data blocks move into the
// track (without a track 0 they are freed).
void WriteTrackZero(Song& song, std::vector<NoteEvent>& records);

// The write-back delta: (time - prev) * 1000 / microsPerTick in 64 bits,
// rounded to the nearest integer with halves to even.
uint32_t DeltaTicks(uint32_t time, uint32_t prev, uint32_t microsPerTick);

}  // namespace notavox
