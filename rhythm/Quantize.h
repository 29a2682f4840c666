// Moving notes towards a rhythmic grid in ticks. Each onset moves by
// `strength` percent of its distance to the nearest grid point; each
// duration likewise towards the nearest whole number of grid steps (at least
// one). Notes of the same pitch keep their order and never meet: a note
// whose onset would fall on or before the previous one of its pitch goes to
// the next grid point after it at full strength, else one tick after it;
// and a note ends at the latest where the next one of its pitch starts.
// Every note keeps at least one tick.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace notavox {

enum class QuantizeGrid { Off, Quarter, Eighth, Sixteenth, EighthTriplet, SixteenthTriplet };

// "OFF", "1/4", "1/8", "1/16", "1/8T", "1/16T" (any letter case); nothing for other texts.
std::optional<QuantizeGrid> ParseQuantizeGrid(const std::string& text);
// The grid points per quarter note (0 for Off).
int GridDivisions(QuantizeGrid grid);

struct TickNote {
    int pitch;
    int64_t on;   // ticks
    int64_t off;  // ticks, after `on`
    int velocity;
};

// Keeps the number and order of the notes; strength is clamped to 0..100.
// With Off or strength 0 only the same-pitch rules apply.
void QuantizeNotes(std::vector<TickNote>& notes, QuantizeGrid grid, int strengthPercent, int ticksPerQuarter = 500);

}  // namespace notavox
