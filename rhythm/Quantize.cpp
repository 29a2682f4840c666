#include "rhythm/Quantize.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numeric>

namespace notavox {
namespace {

// Grid point j of a grid with `div` points per quarter, rounded to a tick.
int64_t GridPoint(int64_t j, int div, int tpq) {
    const int64_t num = j * tpq;
    return num >= 0 ? (2 * num + div) / (2 * div) : -((-2 * num + div) / (2 * div));
}

// The index of the grid point nearest to `tick`.
int64_t NearestIndex(int64_t tick, int div, int tpq) {
    return int64_t(std::floor(double(tick) * div / tpq + 0.5));
}

int64_t Toward(int64_t from, int64_t to, int strength) {
    // `from` moved by strength percent of the way, to the nearest tick.
    const int64_t d = (to - from) * strength;
    const int64_t q = d >= 0 ? (d + 50) / 100 : -((-d + 50) / 100);
    return from + q;
}

}  // namespace

std::optional<QuantizeGrid> ParseQuantizeGrid(const std::string& text) {
    std::string t;
    for (char c : text) t += char(std::toupper(static_cast<unsigned char>(c)));
    if (t == "OFF") return QuantizeGrid::Off;
    if (t == "1/4") return QuantizeGrid::Quarter;
    if (t == "1/8") return QuantizeGrid::Eighth;
    if (t == "1/16") return QuantizeGrid::Sixteenth;
    if (t == "1/8T") return QuantizeGrid::EighthTriplet;
    if (t == "1/16T") return QuantizeGrid::SixteenthTriplet;
    return std::nullopt;
}

int GridDivisions(QuantizeGrid grid) {
    switch (grid) {
        case QuantizeGrid::Off: return 0;
        case QuantizeGrid::Quarter: return 1;
        case QuantizeGrid::Eighth: return 2;
        case QuantizeGrid::Sixteenth: return 4;
        case QuantizeGrid::EighthTriplet: return 3;
        case QuantizeGrid::SixteenthTriplet: return 6;
    }
    return 0;
}

void QuantizeNotes(std::vector<TickNote>& notes, QuantizeGrid grid, int strengthPercent, int ticksPerQuarter) {
    const int strength = std::clamp(strengthPercent, 0, 100);
    const int div = GridDivisions(grid);
    const int tpq = ticksPerQuarter;
    const bool active = div > 0 && strength > 0;
    std::vector<int64_t> origOn(notes.size());
    for (size_t i = 0; i < notes.size(); ++i) {
        TickNote& n = notes[i];
        n.off = std::max(n.off, n.on + 1);
        origOn[i] = n.on;
        if (!active) continue;
        const int64_t length = n.off - n.on;
        const int64_t j = NearestIndex(n.on, div, tpq);
        n.on = Toward(n.on, GridPoint(j, div, tpq), strength);
        // The nearest whole number of steps (at least one) from the grid point.
        const int64_t steps = std::max<int64_t>(1, NearestIndex(length, div, tpq));
        const int64_t target = GridPoint(j + steps, div, tpq) - GridPoint(j, div, tpq);
        n.off = n.on + std::max<int64_t>(1, Toward(length, target, strength));
    }
    // Same-pitch rules, each pitch in the order of the original onsets.
    std::vector<size_t> order(notes.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (notes[a].pitch != notes[b].pitch) return notes[a].pitch < notes[b].pitch;
        return origOn[a] < origOn[b];
    });
    for (size_t k = 1; k < order.size(); ++k) {
        TickNote& prev = notes[order[k - 1]];
        TickNote& cur = notes[order[k]];
        if (prev.pitch != cur.pitch) continue;
        if (cur.on <= prev.on) {
            const int64_t length = cur.off - cur.on;
            int64_t on = prev.on + 1;
            if (active && strength == 100) {
                const int64_t j = NearestIndex(prev.on, div, tpq) + 1;
                int64_t next = GridPoint(j, div, tpq);
                while (next <= prev.on) next = GridPoint(NearestIndex(next, div, tpq) + 1, div, tpq);
                on = std::max(on, next);
            }
            cur.on = on;
            cur.off = on + std::max<int64_t>(1, length);
        }
        if (prev.off > cur.on) prev.off = cur.on;
    }
}

}  // namespace notavox
