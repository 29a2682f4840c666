// The tempo-mapped MIDI file: the tempo map puts every beat on the grid and
// the first downbeat on a bar line, notes keep their times (checked through
// python3-mido), and quantisation moves notes to the grid without losing or
// merging any.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

#include "RhythmTestSupport.h"
#include "rhythm/Quantize.h"
#include "rhythm/TempoMap.h"
#include "rhythm/TempoMappedExport.h"
#include "rhythm/TempoMidiFile.h"
#include "RhythmTestSupport.h"
#include "support/Files.h"
#include "transcription/MidiFile.h"
#include "support/TempDir.h"

namespace notavox {
namespace {

using testing::Rng;

// The file of notes placed on the beats, as bytes and as a file.
std::string BuildTempoMappedMIDI(const std::vector<TranscribedNote>& notes, const std::vector<double>& beats,
                                 const Metre& metre, const KeyEstimate& key, const TempoMidiOptions& options = {}) {
    Song song;
    FillTempoMappedSong(song, PlaceNotesOnBeats(notes, beats, metre, options), metre, key);
    return BuildMIDIFile(song);
}

bool SaveTempoMappedMIDI(const std::vector<TranscribedNote>& notes, const std::vector<double>& beats,
                         const Metre& metre, const KeyEstimate& key, const TempoMidiOptions& options,
                         const std::string& fileName) {
    Song song;
    FillTempoMappedSong(song, PlaceNotesOnBeats(notes, beats, metre, options), metre, key);
    return SaveAsMIDI(song, fileName);
}

// Beats that slow down from 150 to 45 beats a minute, starting at 0.83 s.
std::vector<double> ChangingBeats() {
    std::vector<double> b;
    double t = 0.83;
    for (int i = 0; i < 40; ++i) {
        b.push_back(t);
        t += 60.0 / (150.0 - 105.0 * i / 39.0);
    }
    return b;
}

std::vector<TranscribedNote> RandomNotes(const std::vector<double>& beats, uint32_t seed, int count) {
    Rng r{seed};
    std::vector<TranscribedNote> notes;
    for (int i = 0; i < count; ++i) {
        const double on = r.unit() * (beats.back() + 0.5);
        notes.push_back({48 + int(r.next() % 24), on, on + 0.05 + r.unit(), 1 + int(r.next() % 127)});
    }
    std::sort(notes.begin(), notes.end(), [](auto& a, auto& b) { return a.onset < b.onset; });
    return notes;
}

TEST(TempoMap, EveryBeatOnTheGridAndTheFirstDownbeatOnABarLine) {
    const std::vector<double> beats = ChangingBeats();
    for (int bar : {2, 3, 4}) {
        for (int down = 0; down < bar; ++down) {
            Metre m;
            m.beatsPerBar = bar;
            m.firstDownbeat = down;
            const BeatGrid g = BuildBeatGrid(beats, m);
            // The first downbeat on the bar line after the upbeat, which is
            // shorter than a bar.
            EXPECT_LT(g.upbeatTicks, bar * 500);
            EXPECT_EQ((g.firstBeatTick + down * 500 - g.upbeatTicks) % (bar * 500), 0);
            // The lead-in at the first beat's tempo: 0.83 s at 0.4 s a beat
            // is 2.075 beats, 1,000 ticks in whole sixteenths: one beat of
            // 0.4 s before the first and 0.43 s from the start to it.
            EXPECT_EQ(g.firstBeatTick, 1000);
            EXPECT_EQ(g.upbeatTicks, (1000 + down * 500) % (bar * 500));
            ASSERT_GE(g.map.segments().size(), 2u);
            EXPECT_EQ(g.map.segments()[0].microsPerQuarter, 430000u);
            EXPECT_EQ(g.map.segments()[1].tick, 500);
            EXPECT_EQ(g.map.segments()[1].microsPerQuarter, 400000u);
            for (size_t i = 0; i < beats.size(); ++i) {
                const double tick = double(g.firstBeatTick + int64_t(i) * 500);
                EXPECT_NEAR(g.map.secondsAt(tick), beats[i], 2e-6) << i;
                EXPECT_NEAR(g.map.tickAt(beats[i]), tick, 0.01) << i;
            }
            // Time 0 is tick 0, and the map only goes forward.
            EXPECT_EQ(g.map.secondsAt(0), 0.0);
            for (size_t i = 1; i < g.map.segments().size(); ++i)
                EXPECT_GT(g.map.segments()[i].tick, g.map.segments()[i - 1].tick);
        }
    }
    // Compound metre: beats of a dotted quarter.
    Metre six;
    six.beatsPerBar = 2;
    six.compound = true;
    const BeatGrid g = BuildBeatGrid(beats, six);
    EXPECT_EQ(g.ticksPerBeat, 750);
    EXPECT_NEAR(g.map.secondsAt(double(g.firstBeatTick + 750 * 5)), beats[5], 2e-6);
}

// Whatever the beats, the map keeps to 20..300 quarter notes a minute: a
// first beat a few milliseconds after the start, beats far too fast and far
// too slow, and notes crowded between slow beats.
TEST(TempoMap, NoTempoOutsideTwentyToThreeHundred) {
    const auto inRange = [](const TempoMap& map) {
        for (const TempoSegment& s : map.segments())
            if (s.microsPerQuarter < kFastestQuarterMicros || s.microsPerQuarter > kSlowestQuarterMicros) return false;
        return true;
    };
    for (const std::vector<double>& beats :
         {std::vector<double>{0.004, 0.5, 1.0, 1.5}, std::vector<double>{0.02, 0.06, 0.1, 0.14, 0.9},
          std::vector<double>{0.3, 5.0, 10.0, 15.0}, std::vector<double>{1.7, 2.2, 2.7, 3.2}}) {
        for (int down = 0; down < 4; ++down) {
            Metre m;
            m.firstDownbeat = down;
            const BeatGrid g = BuildBeatGrid(beats, m);
            EXPECT_TRUE(inRange(g.map)) << beats[0] << " " << down;
            std::vector<double> times;
            for (int i = 1; i < 400; ++i) times.push_back(beats.back() * i / 400.0 + 0.0003 * (i % 3));
            EXPECT_TRUE(inRange(RefineForTimes(g, times, 0.0009))) << beats[0] << " " << down;
        }
    }
}

TEST(TempoMap, FewerThanTwoBeatsKeepTheDefaultTempo) {
    const BeatGrid g = BuildBeatGrid({1.0}, Metre{});
    ASSERT_EQ(g.map.segments().size(), 1u);
    EXPECT_EQ(g.map.segments()[0].microsPerQuarter, 500000u);
    EXPECT_DOUBLE_EQ(g.map.secondsAt(1000), 1.0);
}

TEST(Quantize, ParsesTheGridNames) {
    EXPECT_EQ(ParseQuantizeGrid("off"), QuantizeGrid::Off);
    EXPECT_EQ(ParseQuantizeGrid("1/4"), QuantizeGrid::Quarter);
    EXPECT_EQ(ParseQuantizeGrid("1/16t"), QuantizeGrid::SixteenthTriplet);
    EXPECT_EQ(ParseQuantizeGrid("1/8T"), QuantizeGrid::EighthTriplet);
    EXPECT_FALSE(ParseQuantizeGrid("1/32").has_value());
    EXPECT_FALSE(ParseQuantizeGrid("").has_value());
}

// Same-pitch notes in onset order never overlap and no note is empty.
void ExpectSamePitchApart(const std::vector<TickNote>& notes) {
    std::map<int, std::vector<TickNote>> byPitch;
    for (const TickNote& n : notes) {
        EXPECT_GT(n.off, n.on);
        byPitch[n.pitch].push_back(n);
    }
    for (auto& [p, list] : byPitch) {
        std::sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.on < b.on; });
        for (size_t i = 1; i < list.size(); ++i) {
            EXPECT_GT(list[i].on, list[i - 1].on) << "pitch " << p;
            EXPECT_LE(list[i - 1].off, list[i].on) << "pitch " << p;
        }
    }
}

TEST(Quantize, KeepsEveryNoteAndPutsOnsetsOnTheGrid) {
    Rng r{7};
    for (QuantizeGrid grid : {QuantizeGrid::Quarter, QuantizeGrid::Eighth, QuantizeGrid::Sixteenth,
                              QuantizeGrid::EighthTriplet, QuantizeGrid::SixteenthTriplet}) {
        const int div = GridDivisions(grid);
        for (int strength : {0, 50, 100}) {
            std::vector<TickNote> notes;
            for (int i = 0; i < 400; ++i) {
                const int64_t on = int64_t(r.next() % 20000);
                // Few pitches, so that repeated notes crowd one another.
                notes.push_back({60 + int(r.next() % 4), on, on + 1 + int64_t(r.next() % 700), 90});
            }
            if (strength < 100) {
                // No two notes of a pitch within 3 ticks: below full strength
                // none is then moved aside for another.
                std::vector<TickNote> apart;
                for (const TickNote& n : notes) {
                    bool close = false;
                    for (const TickNote& m : apart) close = close || (m.pitch == n.pitch && std::llabs(m.on - n.on) < 3);
                    if (!close) apart.push_back(n);
                }
                notes = apart;
            }
            const std::vector<TickNote> before = notes;
            QuantizeNotes(notes, grid, strength);
            ASSERT_EQ(notes.size(), before.size());
            ExpectSamePitchApart(notes);
            size_t onGrid = 0;
            for (size_t i = 0; i < notes.size(); ++i) {
                EXPECT_EQ(notes[i].pitch, before[i].pitch);
                EXPECT_EQ(notes[i].velocity, before[i].velocity);
                // Position j * 500 / div rounded to a tick.
                const double j = double(notes[i].on) * div / 500.0;
                const bool grid = std::fabs(notes[i].on - std::llround(std::llround(j) * 500.0 / div)) == 0;
                onGrid += grid;
                if (strength == 0) {
                    EXPECT_EQ(notes[i].on, before[i].on);
                }
                // Half strength: at most half a grid step away from where it was.
                if (strength == 50) {
                    EXPECT_LE(std::llabs(notes[i].on - before[i].on), 500 / div / 2 + 1);
                }
            }
            // All but those moved aside for an earlier note of their pitch.
            if (strength == 100) {
                EXPECT_GE(onGrid, notes.size() * 9 / 10) << div;
            }
        }
    }
}

TEST(Quantize, RepeatedNotesFasterThanTheGridStaySeparate) {
    // Four sixteenths of one pitch on a quarter grid.
    std::vector<TickNote> notes;
    for (int i = 0; i < 4; ++i) notes.push_back({64, 1000 + 125 * i, 1000 + 125 * i + 100, 80});
    QuantizeNotes(notes, QuantizeGrid::Quarter, 100);
    ASSERT_EQ(notes.size(), 4u);
    ExpectSamePitchApart(notes);
    EXPECT_EQ(notes[0].on, 1000);
    // Durations become whole quarters, cut where the next note of the pitch starts.
    EXPECT_EQ(notes[3].off - notes[3].on, 500);
    // Notes of other pitches may share an onset.
    std::vector<TickNote> chord = {{60, 990, 1400, 80}, {64, 1010, 1400, 80}, {67, 1003, 1400, 80}};
    QuantizeNotes(chord, QuantizeGrid::Eighth, 100);
    for (const TickNote& n : chord) EXPECT_EQ(n.on, 1000);
}

// The notes as python3-mido plays the file, in file order of the note-ons.
std::vector<TranscribedNote> ReadWithMido(const std::string& path) {
    std::vector<TranscribedNote> notes;
    for (const testing::MidoNote& n : testing::ReadWithMido(path).notes) notes.push_back({n.pitch, n.onset, n.offset, 0});
    return notes;
}

using testing::HaveMido;

TEST(TempoMidiFile, NotesKeepTheirTimesThroughMido) {
    if (!HaveMido()) GTEST_SKIP() << "python3-mido is not installed";
    testing::TempDir dir;
    const std::vector<double> beats = ChangingBeats();
    // Same pitches never overlap here, so every note can keep its times.
    std::vector<TranscribedNote> notes;
    for (const auto& n : RandomNotes(beats, 3, 300)) {
        bool clash = false;
        for (const auto& m : notes)
            clash = clash || (m.pitch == n.pitch && n.onset < m.offset + 0.003 && m.onset < n.offset + 0.003);
        if (!clash) notes.push_back(n);
    }
    Metre m;
    m.beatsPerBar = 3;
    m.firstDownbeat = 1;
    KeyEstimate key;
    key.tonic = 2;
    const std::string path = dir.file("tempo.mid");
    ASSERT_TRUE(SaveTempoMappedMIDI(notes, beats, m, key, {}, path));
    const std::vector<TranscribedNote> read = ReadWithMido(path);
    ASSERT_EQ(read.size(), notes.size());
    std::vector<TranscribedNote> sorted = notes;
    auto order = [](const TranscribedNote& a, const TranscribedNote& b) {
        return a.pitch != b.pitch ? a.pitch < b.pitch : a.onset < b.onset;
    };
    std::stable_sort(sorted.begin(), sorted.end(), order);
    std::vector<TranscribedNote> got = read;
    std::stable_sort(got.begin(), got.end(), order);
    for (size_t i = 0; i < sorted.size(); ++i) {
        EXPECT_EQ(got[i].pitch, sorted[i].pitch) << i;
        EXPECT_NEAR(got[i].onset, sorted[i].onset, 0.001) << i;
        EXPECT_NEAR(got[i].offset, sorted[i].offset, 0.001) << i;
    }
}

TEST(TempoMidiFile, QuantisedFileKeepsEveryNote) {
    if (!HaveMido()) GTEST_SKIP() << "python3-mido is not installed";
    testing::TempDir dir;
    const std::vector<double> beats = ChangingBeats();
    const std::vector<TranscribedNote> notes = RandomNotes(beats, 11, 500);
    TempoMidiOptions o;
    o.grid = QuantizeGrid::Sixteenth;
    o.strengthPercent = 100;
    const std::string path = dir.file("q.mid");
    ASSERT_TRUE(SaveTempoMappedMIDI(notes, beats, Metre{}, KeyEstimate{}, o, path));
    const std::vector<TranscribedNote> read = ReadWithMido(path);
    ASSERT_EQ(read.size(), notes.size());
    for (const auto& n : read) EXPECT_GT(n.offset, n.onset);
    // Onsets on beats stay on them: a note at a beat's time is still there.
    std::vector<TranscribedNote> onBeat = {{60, beats[10], beats[11], 90}, {62, beats[20] + 0.004, beats[21], 90}};
    ASSERT_TRUE(SaveTempoMappedMIDI(onBeat, beats, Metre{}, KeyEstimate{}, o, path));
    const std::vector<TranscribedNote> back = ReadWithMido(path);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_NEAR(back[0].onset, beats[10], 0.001);
    EXPECT_NEAR(back[1].onset, beats[20], 0.001);
}

TEST(TempoMidiFile, LayoutAndSignatures) {
    const std::vector<double> beats = ChangingBeats();
    Metre m;
    m.beatsPerBar = 3;
    KeyEstimate key;
    key.tonic = 9;
    key.minor = true;
    key.tonic = 4;  // e minor: one sharp
    const std::string f = BuildTempoMappedMIDI({{60, 1.0, 1.5, 100}}, beats, m, key);
    // Format 1, 16 tracks, 500 ticks a quarter.
    ASSERT_GE(f.size(), 40u);
    EXPECT_EQ(f.substr(0, 14), std::string("MThd\0\0\0\6\0\1\0\x10\1\xF4", 14));
    // Track 0 opens with the time signature of the upbeat (the lead-in of
    // 0.83 s is two quarters at the first beat's tempo: 2/4) and the key
    // signature.
    EXPECT_EQ(f.substr(14, 4), "MTrk");
    EXPECT_EQ(f.substr(22, 8), std::string("\0\xFF\x58\x04\x02\x02\x18\x08", 8));
    EXPECT_EQ(f.substr(30, 6), std::string("\0\xFF\x59\x02\x01\x01", 6));
    // Then the first tempo at tick 0, near the first beat's 400,000 us a
    // quarter: 430,000 (the lead-in is rounded to a sixteenth).
    EXPECT_EQ(f.substr(36, 7), std::string("\0\xFF\x51\x03\x06\x8F\xB0", 7));
    // 3/4 from the first bar line on, at tick 1000 (delta 1000 = 0x87 0x68
    // after the tempo of the lead-in's last beat at tick 500).
    EXPECT_NE(f.find(std::string("\x83\x74\xFF\x58\x04\x03\x02\x18\x08", 9)), std::string::npos);
    // Tracks 1..15 are the fresh ones: a program change and the end.
    const std::string fresh15 = std::string("MTrk\0\0\0\7\0\xCF\0\0\xFF\x2F\0", 15);
    EXPECT_EQ(f.substr(f.size() - 15), fresh15);
    // A flat key is stored as a negative count.
    key.tonic = 5;
    key.minor = false;
    const std::string g = BuildTempoMappedMIDI({}, beats, m, key);
    EXPECT_EQ(g.substr(30, 6), std::string("\0\xFF\x59\x02\xFF\x00", 6));
}

// The user's metre, key and fixed tempo over what was found.
TEST(TempoMappedExport, ChosenMetreKeyAndTempo) {
    // A waltz whose beats are found from its second beat on: the first
    // downbeat is the third beat found.
    testing::PieceSpec s;
    s.bpm = 100;
    s.beatsPerBar = 3;
    s.bars = 8;
    s.tonic = 2;
    s.accompaniment = testing::Accompaniment::Waltz;
    const testing::Piece piece = testing::MakePiece(s);
    const std::vector<float> clicks = testing::ClickTrack(piece.beats, piece.beats.back() + 1, 22050);
    TempoAnalysis a;
    a.envelope = ComputeOnsetEnvelope(clicks.data(), clicks.size(), 22050);
    a.found.beats.beats.assign(piece.beats.begin() + 1, piece.beats.end());
    a.found.metre = EstimateMetre(a.envelope, a.found.beats.beats, piece.notes);
    a.found.key = EstimateKey(piece.notes);
    ASSERT_EQ(a.found.metre.numerator(), 3);
    ASSERT_EQ(a.found.metre.firstDownbeat, 2);

    TempoChoices c;
    c.metre = Metre{3, false, 0};  // the downbeat is found again, not taken from here
    c.key = KeyEstimate{10, true};
    TempoMappedLayout l = LayOutTempoMapped(a, piece.notes, c);
    EXPECT_EQ(l.metre.firstDownbeat, 2);
    EXPECT_EQ(l.key.tonic, 10);
    EXPECT_TRUE(l.key.minor);
    // On a bar line after the upbeat.
    EXPECT_NEAR(std::fmod(l.placed.map.tickAt(a.found.beats.beats[2]) - double(l.placed.upbeatTicks) + 0.5, 1500), 0.5,
                0.01);

    // 6/8: every beat found a dotted quarter.
    c.metre = Metre{2, true, 0};
    l = LayOutTempoMapped(a, piece.notes, c);
    EXPECT_EQ(l.metre.numerator(), 6);
    EXPECT_EQ(l.metre.denominator(), 8);
    const double firstTick = l.placed.map.tickAt(a.found.beats.beats[0]);
    for (double b : a.found.beats.beats) {
        const double tick = l.placed.map.tickAt(b) - firstTick;
        EXPECT_NEAR(tick, std::round(tick / 750) * 750, 0.01) << b;
    }

    // A fixed tempo of 90 dotted quarters: one tempo from the start, the
    // first bar there, every note within half a tick of its time.
    c.tempoBpm = 90;
    l = LayOutTempoMapped(a, piece.notes, c);
    ASSERT_EQ(l.placed.map.segments().size(), 1u);
    EXPECT_EQ(l.placed.map.segments()[0].microsPerQuarter, 444444u);
    EXPECT_EQ(l.metre.firstDownbeat, 0);
    ASSERT_EQ(l.placed.notes.size(), piece.notes.size());
    for (size_t i = 0; i < piece.notes.size(); ++i) {
        EXPECT_NEAR(l.placed.map.secondsAt(double(l.placed.notes[i].on)), piece.notes[i].onset, 0.00045) << i;
        EXPECT_NEAR(l.placed.map.secondsAt(double(l.placed.notes[i].off)), piece.notes[i].offset, 0.00045) << i;
    }
    // Quantised to quarters from the start of the recording.
    c.grid = QuantizeGrid::Quarter;
    l = LayOutTempoMapped(a, piece.notes, c);
    for (const TickNote& n : l.placed.notes) EXPECT_EQ(n.on % 500, 0);
}

}  // namespace
}  // namespace notavox
