// The tempo map of a tempo-mapped MIDI file: tempo segments in ticks with a
// whole number of microseconds per quarter note each, exactly as a MIDI
// player reads them. Built from the beats: beat i falls on tick
// leadIn + i * ticksPerBeat, so every beat lies on the grid. The lead-in
// before the first beat has the first beat's tempo (its length rounded to a
// sixteenth), so the music before the first full bar is an upbeat: a first
// bar as long as that part, and the first downbeat on the bar line after it.
// After the last beat its tempo goes on. Each tempo is rounded so that the
// rounding never adds up: every beat is met within a microsecond. No tempo
// of the map lies outside 20 to 300 quarter notes a minute; where the beats
// would ask for more, the map keeps to the limit and catches up afterwards.
#pragma once

#include <cstdint>
#include <vector>

#include "rhythm/Metre.h"

namespace notavox {

// The tempos a map built from beats keeps to, in microseconds per quarter
// note (300 and 20 quarter notes a minute).
inline constexpr uint32_t kFastestQuarterMicros = 200000;
inline constexpr uint32_t kSlowestQuarterMicros = 3000000;

struct TempoSegment {
    int64_t tick;           // where the segment starts
    uint32_t microsPerQuarter;
    int64_t micros;         // the time of `tick` in microseconds
};

class TempoMap {
public:
    // A constant tempo of 120 beats a minute (the MIDI default).
    explicit TempoMap(int ticksPerQuarter = 500);
    // From anchors (ascending ticks and microsecond times, the first at tick 0
    // and time 0); every anchor is met within a microsecond.
    // With `limited` every tempo keeps within 20 to 300 quarter notes a minute.
    TempoMap(int ticksPerQuarter, const std::vector<int64_t>& ticks, const std::vector<int64_t>& micros,
             bool limited = false);

    int ticksPerQuarter() const { return ticksPerQuarter_; }
    const std::vector<TempoSegment>& segments() const { return segments_; }

    double secondsAt(double tick) const;
    double tickAt(double seconds) const;

private:
    int ticksPerQuarter_;
    std::vector<TempoSegment> segments_;
};

struct BeatGrid {
    TempoMap map;
    int64_t firstBeatTick = 0;  // the lead-in
    int64_t upbeatTicks = 0;    // the length of a short first bar (0: the first bar is a whole one)
    int ticksPerBeat = 500;     // a quarter, or a dotted quarter in compound metre
    int ticksPerBar = 2000;
    // The anchors the map was built from: tick 0, the beats continued back
    // before the first one, and the beats.
    std::vector<int64_t> anchorTicks{0};
    std::vector<int64_t> anchorMicros{0};
};

// The map for ascending beat times (seconds, the first above 0 or at 0) and
// the metre. With fewer than two beats: 120 beats a minute from time 0.
BeatGrid BuildBeatGrid(const std::vector<double>& beats, const Metre& metre, int ticksPerQuarter = 500);

// The grid's map with extra anchors at the given times (seconds) wherever the
// nearest tick is more than `tolerance` seconds off; used to keep notes within
// a millisecond of their times when a beat is longer than a second. The beats
// stay where they are; a time takes its nearest tick, or the one beside it
// when that is taken, and is left out when neither keeps the order of times.
TempoMap RefineForTimes(const BeatGrid& grid, const std::vector<double>& times, double tolerance);

}  // namespace notavox
