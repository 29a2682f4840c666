#include "rhythm/TempoMidiFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "rhythm/TempoMap.h"
#include "transcription/MidiFile.h"

namespace notavox {
namespace {

// Within a millisecond: a note further than this from its nearest tick gets a
// tempo anchor of its own. Half a tick is longer than this only for beats of
// more than 0.9 s, so faster pieces get no tempo events between beats.
constexpr double kTimeTolerance = 0.0009;
// The division of the program's MIDI files.
constexpr int kTicksPerQuarter = 500;

struct Placed {
    int64_t tick;
    int order;  // at one tick: signatures, tempo, note-offs, note-ons
    size_t seq;
    NoteEvent event;
};

NoteEvent Meta(uint8_t type, std::initializer_list<uint8_t> bytes) {
    NoteEvent e;
    std::memset(&e, 0, sizeof e);
    e.kind = kMetaEvent;
    e.metaType = type;
    e.channel = 15;
    e.dataLength = uint8_t(bytes.size());
    size_t i = 0;
    for (uint8_t b : bytes) e.data.bytes[i++] = b;
    return e;
}

NoteEvent Note(uint8_t kind, int pitch, int velocity) {
    NoteEvent e;
    std::memset(&e, 0, sizeof e);
    e.kind = kind;
    e.channel = 0;
    e.dataLength = 2;
    e.data.bytes[0] = uint8_t(std::clamp(pitch, 0, 127));
    e.data.bytes[1] = uint8_t(std::clamp(velocity, 1, 127));
    return e;
}

}  // namespace

TempoMappedNotes PlaceNotesUnder(const std::vector<TranscribedNote>& notes, const TempoMap& map,
                                 const TempoMidiOptions& options, int64_t barLine) {
    TempoMappedNotes placed{map, {}};
    placed.notes.reserve(notes.size());
    // The grid counts from a bar line: the notes are moved so that it falls
    // on a whole quarter while they are quantised.
    const int64_t tpq = map.ticksPerQuarter();
    const int64_t shift = ((tpq - barLine % tpq) % tpq + tpq) % tpq;
    for (const auto& n : notes) {
        const int64_t on = std::max<int64_t>(0, std::llround(map.tickAt(std::max(0.0, n.onset))));
        const int64_t off = std::llround(map.tickAt(std::max(0.0, n.offset)));
        placed.notes.push_back({n.pitch, on + shift, std::max(off, on + 1) + shift, n.velocity});
    }
    QuantizeNotes(placed.notes, options.grid, options.strengthPercent, int(tpq));
    for (TickNote& n : placed.notes) {
        n.on = std::max<int64_t>(0, n.on - shift);
        n.off = std::max(n.on + 1, n.off - shift);
    }
    return placed;
}

TempoMappedNotes PlaceNotesOnBeats(const std::vector<TranscribedNote>& notes, const std::vector<double>& beats,
                                   const Metre& metre, const TempoMidiOptions& options) {
    const BeatGrid grid = BuildBeatGrid(beats, metre, kTicksPerQuarter);
    const bool quantize = options.grid != QuantizeGrid::Off && options.strengthPercent > 0;
    TempoMappedNotes placed;
    if (quantize) {
        placed = PlaceNotesUnder(notes, grid.map, options, grid.upbeatTicks);
    } else {
        std::vector<double> times;
        for (const auto& n : notes) {
            times.push_back(n.onset);
            times.push_back(n.offset);
        }
        placed = PlaceNotesUnder(notes, RefineForTimes(grid, times, kTimeTolerance), options);
    }
    placed.upbeatTicks = grid.upbeatTicks;
    return placed;
}

void FillTempoMappedSong(Song& song, const TempoMappedNotes& placed, const Metre& metre, const KeyEstimate& key) {
    MidiNeu(song);
    const TempoMap& map = placed.map;
    std::vector<Placed> events;
    size_t seq = 0;
    const int denominatorPower = metre.denominator() == 8 ? 3 : 2;
    const uint8_t clocks = metre.compound ? 36 : 24;
    const int64_t sixteenth = std::max(1, map.ticksPerQuarter() / 4);
    const int64_t upbeat = placed.upbeatTicks / sixteenth;
    if (upbeat > 0 && upbeat < 128) {
        int numerator = int(upbeat), power = 4;
        while (numerator % 2 == 0 && power > 2) {
            numerator /= 2;
            --power;
        }
        events.push_back({0, 0, seq++, Meta(0x58, {uint8_t(numerator), uint8_t(power), 24, 8})});
    }
    const int64_t barLine = upbeat > 0 && upbeat < 128 ? upbeat * sixteenth : 0;
    events.push_back(
        {barLine, 0, seq++, Meta(0x58, {uint8_t(metre.numerator()), uint8_t(denominatorPower), clocks, 8})});
    events.push_back({0, 0, seq++, Meta(0x59, {uint8_t(int8_t(key.sharps())), uint8_t(key.minor ? 1 : 0)})});
    for (const TempoSegment& s : map.segments()) {
        const uint32_t t = s.microsPerQuarter;
        events.push_back({s.tick, 1, seq++, Meta(0x51, {uint8_t(t >> 16), uint8_t(t >> 8), uint8_t(t)})});
    }
    for (const TickNote& n : placed.notes) {
        events.push_back({n.on, 3, seq++, Note(kNoteOn, n.pitch, n.velocity)});
        events.push_back({n.off, 2, seq++, Note(kNoteOff, n.pitch, n.velocity)});
    }
    std::sort(events.begin(), events.end(), [](const Placed& a, const Placed& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        if (a.order != b.order) return a.order < b.order;
        return a.seq < b.seq;
    });
    TDynaArray* track = song.track(0);
    if (!track) return;
    FreeListData(*track);
    track->Clear();
    int64_t prev = 0;
    for (Placed& p : events) {
        p.event.time = uint32_t(p.tick - prev);
        prev = p.tick;
        if (void* slot = track->Append()) std::memcpy(slot, &p.event, sizeof p.event);
    }
    const NoteEvent end = Meta(kEndOfTrack, {});
    if (void* slot = track->Append()) std::memcpy(slot, &end, sizeof end);
}

}  // namespace notavox
