#include "notation/Score.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <map>

namespace notavox::notation {
namespace {

constexpr int kStraightStep = 6;  // a sixteenth
constexpr int kFineStep = 3;      // a thirty-second
constexpr int kTripletStep = 8;   // an eighth triplet
constexpr int kFineTripletStep = 4;  // a sixteenth triplet

struct Beat {
    int64_t start = 0;
    int length = 24;
    int step = kStraightStep;
    bool triplet = false;  // step is a triplet's
};

struct BarFrame {
    int64_t start = 0;
    int length = 96;
    int beats = 4, beatType = 4;
    int beatLength = 24;
    bool newTime = false;
};

int BeatLengthOf(int beats, int beatType) {
    if (beatType == 8 && beats % 3 == 0) return 36;  // compound: a dotted quarter
    return 96 / beatType;
}

std::vector<BarFrame> MakeBars(const ScoreInput& in, double endUnits) {
    std::vector<TimeSignature> metres = in.metres;
    if (metres.empty() || metres.front().tick > 0) metres.insert(metres.begin(), TimeSignature{});
    for (TimeSignature& m : metres) {
        m.beats = std::clamp(m.beats, 1, 32);
        int type = 1;
        while (type < m.beatType && type < 16) type *= 2;
        m.beatType = type;
        if (96 * m.beats % m.beatType != 0) m.beatType = 4;
    }
    const double unitsPerTick = double(kUnitsPerQuarter) / std::max(1, in.ticksPerQuarter);
    std::vector<BarFrame> bars;
    size_t next = 1;
    TimeSignature current = metres.front();
    int64_t start = 0;
    bool changed = true;
    do {
        while (next < metres.size() && double(metres[next].tick) * unitsPerTick < double(start) + 0.5) {
            changed = changed || metres[next].beats != current.beats || metres[next].beatType != current.beatType;
            current = metres[next++];
        }
        BarFrame b;
        b.start = start;
        b.beats = current.beats;
        b.beatType = current.beatType;
        b.length = current.beats * 96 / current.beatType;
        b.beatLength = BeatLengthOf(current.beats, current.beatType);
        b.newTime = changed;
        changed = false;
        bars.push_back(b);
        start += b.length;
    } while (double(start) < endUnits - 0.5 && bars.size() < 100000);
    return bars;
}

class Grid {
public:
    explicit Grid(const std::vector<BarFrame>& bars) {
        for (const BarFrame& b : bars)
            for (int64_t s = b.start; s < b.start + b.length; s += b.beatLength)
                beats_.push_back({s, int(std::min<int64_t>(b.beatLength, b.start + b.length - s)), kStraightStep, false});
        end_ = bars.back().start + bars.back().length;
    }
    size_t beatIndex(double u) const {
        auto it = std::upper_bound(beats_.begin(), beats_.end(), u,
                                   [](double v, const Beat& b) { return v < double(b.start); });
        return it == beats_.begin() ? 0 : size_t(it - beats_.begin()) - 1;
    }
    const Beat& beat(size_t i) const { return beats_[i]; }
    Beat& beat(size_t i) { return beats_[i]; }
    size_t size() const { return beats_.size(); }
    int64_t end() const { return end_; }
    int step(size_t i) const { return beats_[i].step; }

    static int64_t snap(double u, const Beat& b, int step) {
        const double k = std::floor((u - double(b.start)) / step + 0.5);
        return std::clamp<int64_t>(b.start + int64_t(k) * step, b.start, b.start + b.length);
    }
    int64_t quantise(double u) const {
        if (u <= 0) return 0;
        const size_t i = beatIndex(u);
        return snap(u, beats_[i], step(i));
    }

private:
    std::vector<Beat> beats_;
    int64_t end_ = 0;
};

// The grid of each beat: sixteenths, unless the onsets in it lie clearly
// on a finer one (thirty-seconds) or on triplets (eighth or sixteenth
// triplets in a quarter beat): some onset must be off the sixteenths and on
// the other grid, and the other grid must halve the onsets' distance to it.
void ChooseGrids(Grid& grid, const std::vector<double>& onsets) {
    constexpr int kSteps[] = {kStraightStep, kTripletStep, kFineStep, kFineTripletStep};
    std::vector<std::array<double, 4>> cost(grid.size(), std::array<double, 4>{});
    std::vector<std::array<int, 4>> needs(grid.size(), std::array<int, 4>{});
    std::vector<int> count(grid.size(), 0);
    for (double u : onsets) {
        const size_t i = grid.beatIndex(u + 1.5);
        const Beat& b = grid.beat(i);
        ++count[i];
        const double straight = std::abs(u - double(Grid::snap(u, b, kStraightStep)));
        for (int g = 0; g < 4; ++g) {
            if (b.length % kSteps[g] != 0) continue;
            const double d = std::abs(u - double(Grid::snap(u, b, kSteps[g])));
            cost[i][size_t(g)] += d;
            if (straight >= 2.0 && d < 1.0) ++needs[i][size_t(g)];
        }
    }
    for (size_t i = 0; i < grid.size(); ++i) {
        Beat& b = grid.beat(i);
        b.step = kStraightStep;
        b.triplet = false;
        // Eighth triplets, then thirty-seconds, then sixteenth triplets: the
        // coarsest that fits.
        for (int g : {1, 2, 3}) {
            const bool triplet = g != 2;
            if (triplet && b.length != 24) continue;
            if (b.length % kSteps[g] != 0) continue;
            const double best = g == 1 ? cost[i][0] : std::min(cost[i][0], cost[i][1]);
            const int needed = g == 1 ? 1 : 2;  // the fine grids only for a run of notes
            if (needs[i][size_t(g)] >= needed && count[i] >= 2 && 2 * cost[i][size_t(g)] < best) {
                b.step = kSteps[g];
                b.triplet = triplet;
                break;
            }
        }
    }
}

struct QNote {
    int pitch;
    int64_t on, off;
    size_t source;
};

// Notes that sound together, as a share of all.
bool LooksSingleLine(const std::vector<QNote>& notes) {
    if (notes.empty()) return false;
    size_t overlapping = 0;
    int64_t latestEnd = -1;
    size_t latestIndex = 0;
    std::vector<bool> flagged(notes.size(), false);
    for (size_t i = 0; i < notes.size(); ++i) {  // sorted by onset
        if (notes[i].on < latestEnd) {
            flagged[i] = true;
            flagged[latestIndex] = true;
        }
        if (notes[i].off > latestEnd) {
            latestEnd = notes[i].off;
            latestIndex = i;
        }
    }
    for (bool f : flagged) overlapping += f;
    return overlapping * 20 <= notes.size();
}

struct VoiceNote {
    int64_t start, end;
    std::vector<int> pitches;
};

// Up to two voices for the notes of one staff (sorted by onset): notes that
// start and end together make one chord; a chord that starts while the
// first voice still sounds goes to the second one.
std::vector<VoiceNote> AssignVoices(std::vector<QNote> notes, std::vector<VoiceNote>& second) {
    // Notes struck together whose ends differ by little end together: one
    // chord rather than two voices for a release that was a little uneven.
    for (size_t i = 0; i < notes.size();) {
        size_t j = i;
        while (j < notes.size() && notes[j].on == notes[i].on) ++j;
        for (size_t a = i; a < j; ++a)
            for (size_t b = i; b < j; ++b) {
                const int64_t shorter = std::min(notes[a].off, notes[b].off) - notes[a].on;
                const int64_t gap = notes[b].off - notes[a].off;
                if (gap <= 0 || 4 * gap > shorter) continue;
                int64_t end = notes[b].off;
                for (size_t k = j; k < notes.size() && notes[k].on < end; ++k)
                    if (notes[k].pitch == notes[a].pitch) end = notes[k].on;
                notes[a].off = std::max(notes[a].off, end);
            }
        i = j;
    }
    std::vector<VoiceNote> first;
    int64_t end1 = 0, end2 = 0;
    for (size_t i = 0; i < notes.size();) {
        size_t j = i;
        while (j < notes.size() && notes[j].on == notes[i].on) ++j;
        const int64_t t = notes[i].on;
        // Groups of the same end; the one with the highest note leads.
        std::map<int64_t, std::vector<int>> byEnd;
        int top = -1;
        int64_t topEnd = 0;
        for (size_t k = i; k < j; ++k) {
            byEnd[notes[k].off].push_back(notes[k].pitch);
            if (notes[k].pitch > top) {
                top = notes[k].pitch;
                topEnd = notes[k].off;
            }
        }
        auto merged = [&](bool skipTop) {
            VoiceNote v{t, 0, {}};
            size_t most = 0;
            for (auto& [end, ps] : byEnd) {
                if (skipTop && end == topEnd) continue;
                v.pitches.insert(v.pitches.end(), ps.begin(), ps.end());
                if (ps.size() >= most) {
                    most = ps.size();
                    v.end = end;
                }
            }
            std::sort(v.pitches.begin(), v.pitches.end());
            return v;
        };
        // A chord that is mostly over when the next one comes was held over
        // (legato, pedal): it ends there instead of making a second voice.
        auto over = [&](const std::vector<VoiceNote>& voice, int64_t end) {
            if (end <= t) return true;
            const int64_t elapsed = t - voice.back().start, remaining = end - t;
            return remaining <= kStraightStep || 2 * remaining <= elapsed;
        };
        auto place = [&](std::vector<VoiceNote>& voice, int64_t& end, VoiceNote v) {
            if (&voice == &first && end2 > t && over(second, end2)) {  // the other voice's chord ends here too
                second.back().end = t;
                end2 = t;
            }
            if (!voice.empty() && voice.back().end > t) voice.back().end = t;  // cut what still sounds
            end = v.end;
            voice.push_back(std::move(v));
        };
        const bool free1 = over(first, end1), free2 = over(second, end2);
        if (free1 && byEnd.size() > 1 && free2) {
            VoiceNote lead{t, topEnd, byEnd[topEnd]};
            place(first, end1, lead);
            place(second, end2, merged(true));
        } else if (free1 || !free2) {
            VoiceNote v = merged(false);
            if (!free1 && !free2 && byEnd.size() > 1) v.end = topEnd;
            place(first, end1, std::move(v));
        } else {
            place(second, end2, merged(false));
        }
        i = j;
    }
    // Drop chords cut to nothing.
    auto empty = [](const VoiceNote& v) { return v.end <= v.start; };
    first.erase(std::remove_if(first.begin(), first.end(), empty), first.end());
    second.erase(std::remove_if(second.begin(), second.end(), empty), second.end());
    return first;
}

// A short gap before the next chord of a voice is the way it was played,
// not a rest that was written: the chord lasts until the next one.
void CloseSmallGaps(std::vector<VoiceNote>& voice, const Grid& grid) {
    for (size_t i = 0; i + 1 < voice.size(); ++i) {
        const int64_t gap = voice[i + 1].start - voice[i].end;
        const int64_t length = voice[i].end - voice[i].start;
        const int step = grid.step(grid.beatIndex(double(voice[i].end)));
        if (gap > 0 && (gap <= step || 4 * gap <= length)) voice[i].end = voice[i + 1].start;
    }
}

double MeanPitch(const std::vector<VoiceNote>& v, int64_t from, int64_t to, int& count) {
    double sum = 0;
    count = 0;
    for (const VoiceNote& n : v)
        if (n.start < to && n.end > from)
            for (int p : n.pitches) {
                sum += p;
                ++count;
            }
    return count ? sum / count : 0;
}

bool Crosses(const std::vector<VoiceNote>& v, int64_t at) {
    for (const VoiceNote& n : v)
        if (n.start < at && n.end > at) return true;
    return false;
}

// In a bar where the second voice lies above the first, they trade places
// (the first has its stems up), unless a note is tied into or out of it.
void OrderVoices(std::vector<VoiceNote>& first, std::vector<VoiceNote>& second, const std::vector<BarFrame>& bars) {
    if (second.empty()) return;
    for (const BarFrame& b : bars) {
        const int64_t from = b.start, to = b.start + b.length;
        int c1 = 0, c2 = 0;
        const double m1 = MeanPitch(first, from, to, c1);
        const double m2 = MeanPitch(second, from, to, c2);
        if (c2 == 0 || m2 <= m1) continue;
        if (Crosses(first, from) || Crosses(first, to) || Crosses(second, from) || Crosses(second, to)) continue;
        auto in = [&](const VoiceNote& n) { return n.start >= from && n.start < to; };
        std::vector<VoiceNote> a, bb;
        std::copy_if(first.begin(), first.end(), std::back_inserter(a), in);
        std::copy_if(second.begin(), second.end(), std::back_inserter(bb), in);
        first.erase(std::remove_if(first.begin(), first.end(), in), first.end());
        second.erase(std::remove_if(second.begin(), second.end(), in), second.end());
        first.insert(first.end(), bb.begin(), bb.end());
        second.insert(second.end(), a.begin(), a.end());
        auto byStart = [](const VoiceNote& x, const VoiceNote& y) { return x.start < y.start; };
        std::sort(first.begin(), first.end(), byStart);
        std::sort(second.begin(), second.end(), byStart);
    }
}

// The clef of each bar: the staff's own, or the other one where a passage of
// at least two bars with notes stays below (above) the staff.
std::vector<char> ChooseClefs(const std::vector<VoiceNote>& a, const std::vector<VoiceNote>& b,
                              const std::vector<BarFrame>& bars, char home) {
    std::vector<int> verdict(bars.size(), 0);  // 1: away from home, -1: at home, 0: no notes
    for (size_t k = 0; k < bars.size(); ++k) {
        const int64_t from = bars[k].start, to = from + bars[k].length;
        int lo = 128, hi = -1, n = 0;
        double sum = 0;
        for (const auto* v : {&a, &b})
            for (const VoiceNote& x : *v)
                if (x.start < to && x.end > from)
                    for (int p : x.pitches) {
                        lo = std::min(lo, p);
                        hi = std::max(hi, p);
                        sum += p;
                        ++n;
                    }
        if (n == 0) continue;
        const double mean = sum / n;
        const bool away = home == 'G' ? (hi < 62 && mean < 55) : (lo > 57 && mean > 65);
        verdict[k] = away ? 1 : -1;
    }
    std::vector<char> clefs(bars.size(), home);
    const char other = home == 'G' ? 'F' : 'G';
    for (size_t k = 0; k < bars.size();) {
        if (verdict[k] != 1) {
            ++k;
            continue;
        }
        size_t e = k;
        int withNotes = 0;
        while (e < bars.size() && verdict[e] != -1) withNotes += verdict[e++] == 1;
        if (withNotes >= 2)
            for (size_t m = k; m < e; ++m) clefs[m] = other;
        k = e;
    }
    // Bars without notes keep the clef before them.
    for (size_t k = 1; k < bars.size(); ++k)
        if (verdict[k] == 0 && clefs[k] != clefs[k - 1] && clefs[k] == home) {
            size_t e = k;
            while (e < bars.size() && verdict[e] == 0) ++e;
            if (e < bars.size() && clefs[e] == clefs[k - 1]) clefs[k] = clefs[k - 1];
        }
    return clefs;
}

// The pieces a stretch of a voice within one bar is written as: whole beats
// from a beat (not across the middle of a four-beat bar unless from its
// start), else up to the next beat in the largest values that fit.
std::vector<std::pair<int64_t, int>> Pieces(int64_t from, int64_t to, const BarFrame& bar, const Grid& grid) {
    std::vector<std::pair<int64_t, int>> out;
    const int64_t middle = bar.start + 2 * bar.beatLength;
    const bool fourBeats = bar.length == 4 * bar.beatLength;
    int64_t pos = from;
    while (pos < to) {
        const size_t bi = grid.beatIndex(double(pos));
        const Beat& beat = grid.beat(bi);
        if (pos == beat.start && to - pos >= beat.length) {
            int chosen = 0;
            for (int d : {144, 96, 72, 48, 36, 24, 12}) {
                if (d < beat.length || pos + d > to) continue;
                const bool whole = d % beat.length == 0;
                const bool dotted = 2 * d == 3 * beat.length && beat.length != 36;
                if (!whole && !dotted) continue;
                if (dotted && (bi + 1 >= grid.size() || grid.beat(bi + 1).triplet)) continue;
                if (fourBeats && pos != bar.start && pos < middle && pos + d > middle) continue;
                chosen = d;
                break;
            }
            if (chosen) {
                out.emplace_back(pos, chosen);
                pos += chosen;
                continue;
            }
        }
        // Sixteenth triplets come in groups of an eighth.
        const int64_t group = beat.step == kFineTripletStep ? 12 : beat.length;
        const int64_t stop = std::min<int64_t>(to, beat.start + ((pos - beat.start) / group + 1) * group);
        while (pos < stop) {
            int chosen = 0;
            static const std::vector<int> kTriplet{24, 16, 8}, kFineTriplet{8, 4}, kStraight{36, 24, 18, 12, 9, 6, 3};
            const std::vector<int>& values =
                beat.step == kTripletStep ? kTriplet : beat.step == kFineTripletStep ? kFineTriplet : kStraight;
            for (int d : values)
                if (pos + d <= stop && (d != 24 || pos == beat.start)) {
                    chosen = d;
                    break;
                }
            if (!chosen) chosen = int(stop - pos);  // off the grid: cannot happen with grid times
            out.emplace_back(pos, chosen);
            pos += chosen;
        }
    }
    return out;
}

ScoreVoice RenderVoice(const std::vector<VoiceNote>& voice, const BarFrame& bar, const Grid& grid, int number) {
    ScoreVoice out;
    out.number = number;
    const int64_t from = bar.start, to = bar.start + bar.length;
    auto addPieces = [&](int64_t a, int64_t b, const VoiceNote* note) {
        for (const auto& [s, d] : Pieces(a, b, bar, grid)) {
            ScoreEvent e;
            e.start = s;
            e.duration = d;
            if (note) {
                e.pitches = note->pitches;
                e.tieStop.assign(e.pitches.size(), s > note->start);
                e.tieStart.assign(e.pitches.size(), s + d < note->end);
            }
            const Beat& beat = grid.beat(grid.beatIndex(double(s)));
            e.triplet = beat.triplet && d < beat.length;
            e.group = (s - beat.start) / (beat.step == kFineTripletStep ? 12 : beat.length);
            out.events.push_back(std::move(e));
        }
    };
    int64_t pos = from;
    for (const VoiceNote& n : voice) {
        if (n.end <= from || n.start >= to) continue;
        const int64_t a = std::max(n.start, from), b = std::min(n.end, to);
        if (a > pos) addPieces(pos, a, nullptr);
        if (a < pos) continue;  // cannot happen: the voice's notes do not overlap
        addPieces(a, b, &n);
        pos = b;
    }
    if (pos == from && number % 2 == 1) {
        ScoreEvent rest;
        rest.start = from;
        rest.duration = bar.length;
        rest.wholeBarRest = true;
        out.events.push_back(rest);
        return out;
    }
    if (pos < to) addPieces(pos, to, nullptr);
    // Brackets around each group of triplets (a beat of eighth triplets, an
    // eighth of sixteenth triplets).
    for (size_t i = 0; i < out.events.size(); ++i) {
        if (!out.events[i].triplet) continue;
        const size_t beat = grid.beatIndex(double(out.events[i].start));
        size_t j = i;
        while (j + 1 < out.events.size() && out.events[j + 1].triplet &&
               grid.beatIndex(double(out.events[j + 1].start)) == beat && out.events[j + 1].group == out.events[i].group)
            ++j;
        out.events[i].tupletStart = true;
        out.events[j].tupletStop = true;
        i = j;
    }
    return out;
}

}  // namespace

Pitch SpellPitch(int midiPitch, int fifths, bool minor) {
    const int pc = ((midiPitch % 12) + 12) % 12;
    // Positions on the line of fifths (C = 0, G = 1, F = -1) of this pitch class.
    const double centre = fifths + 2.0 + (minor ? 0.6 : -0.4);
    int best = 0;
    double bestDistance = 1e9;
    for (int q = -20; q <= 20; ++q) {
        if (((q * 7) % 12 + 12) % 12 != pc) continue;
        const double d = std::abs(q - centre);
        if (d < bestDistance) {
            bestDistance = d;
            best = q;
        }
    }
    static const char kSteps[7] = {'F', 'C', 'G', 'D', 'A', 'E', 'B'};
    const int idx = ((best + 1) % 7 + 7) % 7;
    Pitch p;
    p.step = kSteps[idx];
    p.alter = int(std::floor(double(best + 1) / 7.0));
    static const int kNatural[7] = {5, 0, 7, 2, 9, 4, 11};
    const int natural = midiPitch - p.alter;
    p.octave = (natural - kNatural[idx]) / 12 - 1;
    return p;
}

// The weights of the hand split (measured on piano pieces with the hands in
// separate tracks): the usual lower edge of the right hand and upper edge
// of the left, the cost of a semitone beyond them, of a semitone away from
// where the hand was lately and from its last chord, and of a second voice
// in a hand that still holds a chord.
constexpr double kRightFloor = 55, kLeftCeiling = 67, kRange = 0.2, kCentre = 0.1, kLast = 0.3, kHold = 2.0;

std::vector<int> SplitHands(const std::vector<PlacedNote>& notes) {
    std::vector<size_t> order(notes.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return notes[a].on != notes[b].on ? notes[a].on < notes[b].on : notes[a].pitch < notes[b].pitch;
    });
    std::vector<std::vector<size_t>> slices;
    for (size_t k = 0; k < order.size(); ++k) {
        if (k == 0 || notes[order[k]].on != notes[order[k - 1]].on) slices.emplace_back();
        slices.back().push_back(order[k]);
    }
    // Each hand: where it played lately, and the chord it last struck with
    // the time it still sounds.
    struct Hand {
        double centre = 60;
        double last = 60;
        int64_t until = 0;
        int low = 0, high = 0;
    };
    struct State {
        double cost = 0;
        Hand left, right;
        int from = -1;
    };
    // The hands start around the middle of the piece's notes.
    std::vector<int> all;
    for (const PlacedNote& n : notes) all.push_back(n.pitch);
    std::sort(all.begin(), all.end());
    const double middle = all.empty() ? 60 : all[all.size() / 2];
    State start;
    start.right.centre = std::max(middle + 6, 64.0);
    start.left.centre = std::min(middle - 6, 55.0);
    start.right.last = start.right.centre;
    start.left.last = start.left.centre;
    std::vector<std::vector<State>> states(slices.size());
    auto handCost = [](const std::vector<int>& p, size_t a, size_t b, const Hand& h, const Hand& other, int64_t at,
                       bool right) {
        if (a == b) return 0.0;
        double c = 0;
        // The hands do not cross: a note beyond where the other hand just played.
        for (size_t i = a; i < b; ++i) c += std::max(0.0, right ? other.last - p[i] : p[i] - other.last);
        const int span = p[b - 1] - p[a];
        if (span > 12) c += (span - 12) * 3.0;
        if (span > 16) c += 40;
        if (h.until > at) {  // still holding a chord: the new notes are a second voice of this hand
            c += kHold;
            // A stretch beyond an octave to the held notes (a pedal may have let them go).
            const int reach = std::max(p[b - 1], h.high) - std::min(p[a], h.low);
            if (reach > 12) c += std::min(20.0, (reach - 12) * 3.0);
        }
        if (b - a > 5) c += double(b - a - 5) * 20;
        double mean = 0;
        for (size_t i = a; i < b; ++i) {
            mean += p[i];
            if (right && p[i] < kRightFloor) c += (kRightFloor - p[i]) * kRange;
            if (!right && p[i] > kLeftCeiling) c += (p[i] - kLeftCeiling) * kRange;
        }
        mean /= double(b - a);
        return c + kCentre * std::abs(mean - h.centre) + kLast * std::abs(mean - h.last);
    };
    auto moved = [](const Hand& h, const std::vector<int>& p, const std::vector<int64_t>& off, size_t a, size_t b) {
        if (a == b) return h;
        Hand out;
        double m = 0;
        int64_t until = 0;
        for (size_t i = a; i < b; ++i) {
            m += p[i];
            until = std::max(until, off[i]);
        }
        out.centre = 0.5 * h.centre + 0.5 * m / double(b - a);
        out.last = m / double(b - a);
        out.until = until;
        out.low = p[a];
        out.high = p[b - 1];
        return out;
    };
    for (size_t s = 0; s < slices.size(); ++s) {
        std::vector<int> p;
        std::vector<int64_t> off;
        for (size_t i : slices[s]) {
            p.push_back(notes[i].pitch);
            off.push_back(notes[i].off);
        }
        const int64_t at = notes[slices[s][0]].on;
        const size_t n = p.size();
        states[s].assign(n + 1, State{});
        for (size_t k = 0; k <= n; ++k) {
            State best;
            best.cost = 1e300;
            const size_t prevCount = s == 0 ? 1 : states[s - 1].size();
            for (size_t j = 0; j < prevCount; ++j) {
                const State& prev = s == 0 ? start : states[s - 1][j];
                const double c = prev.cost + handCost(p, 0, k, prev.left, prev.right, at, false) +
                                 handCost(p, k, n, prev.right, prev.left, at, true);
                if (c < best.cost) {
                    best.cost = c;
                    best.from = int(j);
                    best.left = moved(prev.left, p, off, 0, k);
                    best.right = moved(prev.right, p, off, k, n);
                }
            }
            states[s][k] = best;
        }
    }
    std::vector<int> staff(notes.size(), 0);
    if (slices.empty()) return staff;
    size_t k = 0;
    for (size_t i = 1; i < states.back().size(); ++i)
        if (states.back()[i].cost < states.back()[k].cost) k = i;
    for (size_t s = slices.size(); s-- > 0;) {
        for (size_t i = 0; i < slices[s].size(); ++i) staff[slices[s][i]] = i < k ? 1 : 0;
        k = size_t(std::max(0, states[s][k].from));
    }
    return staff;
}

Score LayOutScore(const ScoreInput& input) {
    Score score;
    score.title = input.title;
    score.fifths = std::clamp(input.fifths, -7, 7);
    score.minor = input.minor;
    const double unitsPerTick = double(kUnitsPerQuarter) / std::max(1, input.ticksPerQuarter);
    double endUnits = 1;
    std::vector<double> onsets;
    for (const TickNote& n : input.notes) {
        endUnits = std::max(endUnits, double(n.off) * unitsPerTick);
        onsets.push_back(double(n.on) * unitsPerTick);
    }
    const std::vector<BarFrame> bars = MakeBars(input, endUnits);
    Grid grid(bars);
    ChooseGrids(grid, onsets);

    // Onsets and ends on the grid; one note per pitch and onset.
    std::vector<QNote> notes;
    for (size_t i = 0; i < input.notes.size(); ++i) {
        const TickNote& n = input.notes[i];
        if (n.pitch < 0 || n.pitch > 127 || n.off <= n.on) continue;
        QNote q{n.pitch, grid.quantise(double(n.on) * unitsPerTick), grid.quantise(double(n.off) * unitsPerTick), i};
        if (q.on >= grid.end()) continue;
        if (q.off <= q.on) q.off = std::min(grid.end(), q.on + grid.step(grid.beatIndex(double(q.on))));
        q.off = std::min(q.off, grid.end());
        notes.push_back(q);
    }
    std::sort(notes.begin(), notes.end(), [](const QNote& a, const QNote& b) {
        return a.on != b.on ? a.on < b.on : a.pitch != b.pitch ? a.pitch < b.pitch : a.off > b.off;
    });
    notes.erase(std::unique(notes.begin(), notes.end(),
                            [](const QNote& a, const QNote& b) { return a.on == b.on && a.pitch == b.pitch; }),
                notes.end());
    {  // a note ends where the next one of its pitch starts
        std::map<int, size_t> lastOfPitch;
        for (size_t i = 0; i < notes.size(); ++i) {
            auto it = lastOfPitch.find(notes[i].pitch);
            if (it != lastOfPitch.end()) notes[it->second].off = std::min(notes[it->second].off, notes[i].on);
            lastOfPitch[notes[i].pitch] = i;
        }
    }

    bool piano = input.layout == StaffLayout::Piano;
    if (input.layout == StaffLayout::Auto) piano = !LooksSingleLine(notes);
    score.staves = piano ? 2 : 1;
    std::vector<int> staffOf(notes.size(), 0);
    if (piano) {
        std::vector<PlacedNote> placed;
        for (const QNote& q : notes) placed.push_back({q.pitch, q.on, q.off});
        staffOf = SplitHands(placed);
    }

    std::vector<std::vector<VoiceNote>> voices(size_t(2 * score.staves));
    std::vector<std::vector<char>> clefs(size_t(score.staves));
    for (int s = 0; s < score.staves; ++s) {
        std::vector<QNote> mine;
        for (size_t i = 0; i < notes.size(); ++i)
            if (staffOf[i] == s) mine.push_back(notes[i]);
        std::vector<VoiceNote>& second = voices[size_t(2 * s + 1)];
        std::vector<VoiceNote>& first = voices[size_t(2 * s)];
        first = AssignVoices(mine, second);
        CloseSmallGaps(first, grid);
        CloseSmallGaps(second, grid);
        OrderVoices(first, second, bars);
        char home = s == 0 ? 'G' : 'F';
        if (!piano) {
            std::vector<int> pitches;
            for (const QNote& q : mine) pitches.push_back(q.pitch);
            std::sort(pitches.begin(), pitches.end());
            home = pitches.empty() || pitches[pitches.size() / 2] >= 57 ? 'G' : 'F';
        }
        clefs[size_t(s)] = ChooseClefs(first, second, bars, home);
        for (const VoiceNote& v : first) score.notes += int(v.pitches.size());
        for (const VoiceNote& v : second) score.notes += int(v.pitches.size());
    }

    // The tempo of each bar, smoothed over its neighbours; a mark where it
    // moved by more than 8 % from the last one.
    std::vector<double> bpm(bars.size(), 120);
    const double ticksPerUnit = double(std::max(1, input.ticksPerQuarter)) / kUnitsPerQuarter;
    for (size_t k = 0; k < bars.size(); ++k) {
        const double a = input.tempo.secondsAt(double(bars[k].start) * ticksPerUnit);
        const double b = input.tempo.secondsAt(double(bars[k].start + bars[k].length) * ticksPerUnit);
        if (b > a) bpm[k] = 60.0 * (double(bars[k].length) / kUnitsPerQuarter) / (b - a);
    }
    // The score begins with the first bar that has a note.
    size_t firstBar = 0;
    if (!notes.empty()) {
        while (firstBar + 1 < bars.size() && bars[firstBar].start + bars[firstBar].length <= notes.front().on) ++firstBar;
    }
    double lastMark = 0;
    for (size_t k = firstBar; k < bars.size(); ++k) {
        ScoreBar bar;
        bar.start = bars[k].start;
        bar.length = bars[k].length;
        bar.beats = bars[k].beats;
        bar.beatType = bars[k].beatType;
        bar.newTime = bars[k].newTime;
        auto median3 = [&](size_t a, size_t b, size_t c) {
            double w[3] = {bpm[a], bpm[b], bpm[c]};
            std::sort(w, w + 3);
            return w[1];
        };
        const size_t last = bars.size() - 1;
        const double around = median3(k > firstBar ? k - 1 : k, k, std::min(k + 1, last));
        if (lastMark == 0 || std::abs(around - lastMark) > 0.08 * lastMark) {
            // The tempo that follows: a bar that is half old, half new tempo does not count.
            const double ahead = median3(k, std::min(k + 1, last), std::min(k + 2, last));
            const double mark = lastMark == 0 ? around : ahead;
            if (lastMark == 0 || std::abs(mark - lastMark) > 0.08 * lastMark) {
                bar.tempoMark = mark;
                lastMark = mark;
            }
        }
        for (int s = 0; s < score.staves; ++s) {
            ScoreStaff staff;
            staff.clef.sign = clefs[size_t(s)][k];
            staff.clefChanged = k > firstBar && clefs[size_t(s)][k] != clefs[size_t(s)][k - 1];
            const int base = s == 0 ? 1 : 5;
            staff.voices.push_back(RenderVoice(voices[size_t(2 * s)], bars[k], grid, base));
            const std::vector<VoiceNote>& second = voices[size_t(2 * s + 1)];
            const bool used = std::any_of(second.begin(), second.end(), [&](const VoiceNote& v) {
                return v.start < bars[k].start + bars[k].length && v.end > bars[k].start;
            });
            if (used) staff.voices.push_back(RenderVoice(second, bars[k], grid, base + 1));
            bar.staves.push_back(std::move(staff));
        }
        score.bars.push_back(std::move(bar));
    }
    return score;
}

}  // namespace notavox::notation
