// The score's layout: notated values on the metre's grid, ties, rests,
// triplets, voices, the hands on their staves, clefs, spelling, time
// signatures and tempo marks, read back from the MusicXML it writes; and
// the compressed container.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <map>
#include <set>

#include "notation/MusicXml.h"
#include "notation/Score.h"
#include "notation/ScoreExport.h"
#include "notation/ScoreReader.h"

using namespace notavox;
using namespace notavox::notation;
using namespace notavox::testing;

namespace {

constexpr int kTpq = 480;

struct N {
    int pitch;
    double on, length;  // quarter notes
};

ScoreInput Input(const std::vector<N>& notes, StaffLayout layout = StaffLayout::Auto) {
    ScoreInput in;
    in.ticksPerQuarter = kTpq;
    in.tempo = TempoMap(kTpq);
    in.layout = layout;
    for (const N& n : notes)
        in.notes.push_back({n.pitch, int64_t(n.on * kTpq + 0.5), int64_t((n.on + n.length) * kTpq + 0.5), 90});
    return in;
}

ReadScore Read(const ScoreInput& in) { return ReadMusicXml(BuildMusicXml(LayOutScore(in))); }

std::vector<ReadNote> Pitched(const ReadScore& s) { return JoinTies(s.notes); }

// Every voice of every bar fills the bar exactly.
void ExpectFullBars(const ReadScore& s, const std::string& xml) {
    std::map<std::pair<int, int>, double> sum;  // (measure, voice) -> quarters
    std::map<int, double> length;
    for (const ReadNote& n : s.notes) {
        if (!n.chord) sum[{n.measure, n.voice}] += n.duration;
        length[n.measure] = std::max(length[n.measure], sum[{n.measure, n.voice}]);
    }
    for (const auto& [key, q] : sum) EXPECT_NEAR(q, length[key.first], 1e-9) << "bar " << key.first << " voice " << key.second << "\n" << xml;
}

TEST(Spelling, AccidentalsComeFromTheKey) {
    struct Case {
        int pitch, fifths;
        bool minor;
        char step;
        int alter, octave;
    } cases[] = {
        {66, 1, false, 'F', 1, 4},    // F sharp in G major
        {66, -5, false, 'G', -1, 4},  // G flat in D flat major
        {68, 0, true, 'G', 1, 4},     // the raised seventh of A minor
        {68, 0, false, 'A', -1, 4},   // the lowered sixth in C major
        {70, 0, false, 'B', -1, 4},
        {61, 0, false, 'C', 1, 4},
        {59, -6, false, 'C', -1, 4},  // C flat in G flat major belongs to octave 4
        {65, 6, false, 'E', 1, 4},    // E sharp in F sharp major
        {60, 7, false, 'B', 1, 3},    // B sharp in C sharp major belongs to octave 3
        {21, 0, false, 'A', 0, 0},
        {108, 0, false, 'C', 0, 8},
    };
    for (const Case& c : cases) {
        const Pitch p = SpellPitch(c.pitch, c.fifths, c.minor);
        EXPECT_EQ(p.step, c.step) << c.pitch << " in " << c.fifths;
        EXPECT_EQ(p.alter, c.alter) << c.pitch << " in " << c.fifths;
        EXPECT_EQ(p.octave, c.octave) << c.pitch << " in " << c.fifths;
    }
}

TEST(Spelling, TheFileHasTheKeyAndAccidentalsOnlyWhereTheKeyDiffers) {
    ScoreInput in = Input({{66, 0, 1}, {65, 1, 1}, {66, 2, 1}, {66, 3, 1}}, StaffLayout::SingleLine);
    in.fifths = 1;
    const std::string xml = BuildMusicXml(LayOutScore(in));
    const ReadScore s = ReadMusicXml(xml);
    EXPECT_EQ(s.fifths, 1);
    // F sharp (key), F natural (sign), F sharp again (sign), F sharp (no sign: the bar has it).
    EXPECT_EQ(s.accidentals, (std::vector<std::string>{"natural", "sharp"}));
    EXPECT_NE(xml.find("<mode>major</mode>"), std::string::npos);
}

TEST(Layout, PlayedTimesBecomeNotatedValuesWithTiesAcrossBeatsAndBarLines) {
    // Played a little early, late and short, as a performance is.
    const ReadScore s = Read(Input({{72, 0.03, 0.8},     // a quarter played short
                                    {74, 0.98, 1.0},     // a quarter
                                    {76, 2.52, 0.98},    // eighth after the beat, over beat 4: tied
                                    {77, 3.5, 1.0},      // over the bar line: tied
                                    {79, 4.5, 0.45},     // an eighth, then a written rest
                                    {81, 6.0, 2.0}},     // a half note on beat 3
                                   StaffLayout::SingleLine));
    const std::vector<ReadNote> notes = Pitched(s);
    ASSERT_EQ(notes.size(), 6u);
    const double onsets[] = {0, 1, 2.5, 3.5, 4.5, 6};
    const double lengths[] = {1, 1, 1, 1, 0.5, 2};
    for (size_t i = 0; i < notes.size(); ++i) {
        EXPECT_DOUBLE_EQ(notes[i].onset, onsets[i]) << i;
        EXPECT_DOUBLE_EQ(notes[i].duration, lengths[i]) << i;
    }
    int ties = 0;
    for (const ReadNote& n : s.notes) ties += n.tieStart;
    EXPECT_EQ(ties, 2);
    EXPECT_EQ(s.measures, 2);
    // Bar 2 rests for a quarter after the eighth, before the half note.
    int rests = 0;
    for (const ReadNote& n : s.notes) rests += n.pitch < 0 && n.measure == 2;
    EXPECT_EQ(rests, 1);
    ExpectFullBars(s, "");
}

TEST(Layout, FourBeatBarsAreNotWrittenAcrossTheirMiddleAndTripletsGetBrackets) {
    // A half note from beat 2 is two tied quarters; three notes in a beat are triplets.
    const std::string xml = BuildMusicXml(LayOutScore(Input({{72, 1, 2}, {74, 4, 1.0 / 3}, {76, 4 + 1.0 / 3, 1.0 / 3},
                                                              {77, 4 + 2.0 / 3, 1.0 / 3}, {79, 5, 3}},
                                                             StaffLayout::SingleLine)));
    const ReadScore s = ReadMusicXml(xml);
    std::vector<double> first;
    for (const ReadNote& n : s.notes)
        if (n.pitch == 72) first.push_back(n.duration);
    EXPECT_EQ(first, (std::vector<double>{1, 1}));
    int triplets = 0;
    for (const ReadNote& n : s.notes) triplets += n.triplet;
    EXPECT_EQ(triplets, 3);
    EXPECT_NE(xml.find("<tuplet type=\"start\" bracket=\"yes\"/>"), std::string::npos);
    EXPECT_NE(xml.find("<tuplet type=\"stop\"/>"), std::string::npos);
    const std::vector<ReadNote> notes = Pitched(s);
    ASSERT_EQ(notes.size(), 5u);
    EXPECT_NEAR(notes[2].onset, 4 + 1.0 / 3, 1e-9);
    EXPECT_DOUBLE_EQ(notes[4].duration, 3);
    ExpectFullBars(s, xml);
}

TEST(Layout, RunsOfThirtySecondsAndSixteenthTripletsKeepTheirGridSingleNotesOffItDoNot) {
    std::vector<N> notes;
    for (int i = 0; i < 8; ++i) notes.push_back({72 + i, i / 8.0, 1.0 / 8});         // beat 1: 32nds
    for (int i = 0; i < 6; ++i) notes.push_back({72 + i, 1 + i / 6.0, 1.0 / 6});     // beat 2: 16th triplets
    notes.push_back({72, 2, 0.5});
    notes.push_back({74, 2.5 + 0.11, 0.39});  // beat 3: one late eighth stays an eighth
    notes.push_back({76, 3, 1});
    const std::string xml = BuildMusicXml(LayOutScore(Input(notes, StaffLayout::SingleLine)));
    const ReadScore s = ReadMusicXml(xml);
    const std::vector<ReadNote> read = Pitched(s);
    ASSERT_EQ(read.size(), notes.size());
    for (size_t i = 0; i < 14; ++i) {
        EXPECT_NEAR(read[i].onset, notes[i].on, 1e-9) << i;
        EXPECT_NEAR(read[i].duration, notes[i].length, 1e-9) << i;
        EXPECT_EQ(read[i].triplet, i >= 8) << i;
    }
    EXPECT_DOUBLE_EQ(read[15].onset, 2.5);
    EXPECT_NE(xml.find("<type>32nd</type>"), std::string::npos);
    // Two bracketed groups of three sixteenth triplets.
    size_t brackets = 0;
    for (size_t at = xml.find("<tuplet type=\"start\""); at != std::string::npos; at = xml.find("<tuplet type=\"start\"", at + 1))
        ++brackets;
    EXPECT_EQ(brackets, 2u);
    ExpectFullBars(s, xml);
}

TEST(Layout, OverlappingLinesInOneHandBecomeTwoVoicesTheUpperOneFirst) {
    // A held C4 under a moving line of quarters, both in the right hand.
    const std::string xml = BuildMusicXml(LayOutScore(Input({{60, 0, 4}, {64, 0, 1}, {65, 1, 1}, {67, 2, 1}, {69, 3, 1},
                                                              {36, 0, 4}},
                                                             StaffLayout::Piano)));
    const ReadScore s = ReadMusicXml(xml);
    std::map<int, std::set<int>> pitchesOfVoice;
    for (const ReadNote& n : s.notes)
        if (n.pitch >= 0) pitchesOfVoice[n.voice].insert(n.pitch);
    EXPECT_EQ(pitchesOfVoice[1], (std::set<int>{64, 65, 67, 69}));
    EXPECT_EQ(pitchesOfVoice[2], (std::set<int>{60}));
    EXPECT_EQ(pitchesOfVoice[5], (std::set<int>{36}));
    EXPECT_NE(xml.find("<stem>down</stem>"), std::string::npos);
    ExpectFullBars(s, xml);
}

TEST(Layout, HandsSplitWhereAPlayerWouldAndClefsChangeOnlyForLongPassages) {
    std::vector<N> notes;
    // Bars 1-2: melody around C5 that dips to A3 over a low bass; the dip stays in the right hand.
    for (int i = 0; i < 8; ++i) notes.push_back({i == 5 ? 57 : 72 + i % 3, double(i), 1});
    notes.push_back({36, 0, 4});
    notes.push_back({43, 4, 4});
    // Bars 3-4: the left hand plays broken chords around G4 under a melody two octaves up.
    for (int i = 0; i < 32; ++i) notes.push_back({(i % 4 == 0) ? 64 : (i % 2 ? 67 : 71), 8 + i * 0.25, 0.25});
    for (int i = 0; i < 4; ++i) notes.push_back({84 + i % 2, 8 + 2.0 * i, 2});
    // Bar 5: one bar of the left hand high is no reason for a clef.
    for (int i = 0; i < 4; ++i) notes.push_back({48 + 2 * i, 16.0 + i, 1});
    const ReadScore s = Read(Input(notes, StaffLayout::Piano));
    int wrong = 0, total = 0;
    for (const ReadNote& n : Pitched(s)) {
        ++total;
        const bool left = (n.onset < 8 && n.pitch < 50) || (n.onset >= 8 && n.onset < 16 && n.pitch < 80) ||
                          n.onset >= 16;
        wrong += (n.staff == 2) != left;
        EXPECT_EQ(n.staff == 2, left) << n.pitch << " at " << n.onset;
    }
    EXPECT_EQ(total, int(notes.size()));
    EXPECT_EQ(wrong, 0);
    // Treble and bass at the start; the lower staff takes the G clef for bars 3-4 and back.
    EXPECT_EQ(s.clefs, (std::vector<std::string>{"G", "F", "G", "F"}));
}

TEST(Layout, ASingleLineGetsOneStaffInItsClef) {
    std::vector<N> low, high;
    for (int i = 0; i < 8; ++i) {
        low.push_back({43 + i % 5, i * 0.5, 0.5});
        high.push_back({74 + i % 5, i * 0.5, 0.5});
    }
    const ReadScore a = Read(Input(low)), b = Read(Input(high));
    EXPECT_EQ(a.staves, 1);
    EXPECT_EQ(a.clefs, (std::vector<std::string>{"F"}));
    EXPECT_EQ(b.clefs, (std::vector<std::string>{"G"}));
    for (const ReadNote& n : a.notes) EXPECT_EQ(n.staff, 1);
    // Chords make it a piano score.
    high.push_back({62, 0, 2});
    high.push_back({55, 0, 2});
    high.push_back({50, 2, 2});
    EXPECT_EQ(Read(Input(high)).staves, 2);
}

TEST(Layout, TimeSignatureChangesAndTempoMarksWhereTheTempoMovesByMoreThanEightPercent) {
    std::vector<N> notes;
    for (int i = 0; i < 40; ++i) notes.push_back({72, double(i), 1});
    ScoreInput in = Input(notes, StaffLayout::SingleLine);
    in.metres = {{0, 3, 4}, {6 * kTpq, 4, 4}, {30 * kTpq, 6, 8}};
    // 120 a minute, 4 % faster from quarter 12 (no mark), 20 % faster from quarter 24.
    std::vector<int64_t> ticks{0}, micros{0};
    int64_t t = 0;
    for (int q = 1; q <= 44; ++q) {
        t += q <= 12 ? 500000 : q <= 24 ? 480000 : 400000;
        ticks.push_back(int64_t(q) * kTpq);
        micros.push_back(t);
    }
    in.tempo = TempoMap(kTpq, ticks, micros);
    const std::string xml = BuildMusicXml(LayOutScore(in));
    const ReadScore s = ReadMusicXml(xml);
    EXPECT_EQ(s.times, (std::vector<std::string>{"3/4", "4/4", "6/8"}));
    ASSERT_EQ(s.tempos.size(), 2u) << xml;
    EXPECT_NEAR(s.tempos[0], 120, 0.5);
    EXPECT_NEAR(s.tempos[1], 150, 0.5);
    ExpectFullBars(s, xml);
}

TEST(Layout, NoNoteIsLostAndEveryBarIsFull) {
    // Dense random chords and lines over five octaves.
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    std::vector<N> notes;
    std::set<std::pair<int, int64_t>> distinct;
    for (int i = 0; i < 400; ++i) {
        const double on = (next() % 2400) / 24.0;
        const int pitch = 36 + int(next() % 60);
        notes.push_back({pitch, on, 0.1 + (next() % 96) / 24.0});
    }
    ScoreInput in = Input(notes, StaffLayout::Piano);
    const Score score = LayOutScore(in);
    const std::string xml = BuildMusicXml(score);
    const ReadScore s = ReadMusicXml(xml);
    ExpectFullBars(s, "");
    EXPECT_EQ(int(Pitched(s).size()), score.notes);
    // Only notes of the same pitch and written onset are merged.
    EXPECT_GE(score.notes, 380);
    EXPECT_EQ(LayOutScore(Input({})).bars.size(), 1u);
    EXPECT_EQ(ReadMusicXml(BuildMusicXml(LayOutScore(Input({})))).notes.size(), 2u);  // a rest on each staff
}

TEST(FromTheAnalysis, NotesBeforeTheFirstBeatKeepItsTempoAndEmptyBarsBeforeTheMusicAreLeftOut) {
    // The map squeezes the 20 ms before the first beat into a whole bar of
    // 500-tick quarters; then a quarter lasts 0.5 s.
    TempoMappedLayout layout;
    layout.metre.beatsPerBar = 4;
    layout.key.tonic = 7;  // G major
    layout.placed.map = TempoMap(500, {0, 2000, 2500}, {0, 20000, 520000});
    layout.placed.notes = {{67, 0, 2250, 90},        // played at 0 s, 0.27 s long: an eighth
                           {71, 2500, 3000, 90},     // the second beat
                           {74, 3000, 4000, 90}};
    const Score score = LayOutScore(notation::ScoreInputFromLayout(layout, "Stück"));
    EXPECT_EQ(score.fifths, 1);
    EXPECT_EQ(score.title, "Stück");
    const std::string xml = BuildMusicXml(score);
    const std::vector<ReadNote> notes = Pitched(ReadMusicXml(xml));
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_DOUBLE_EQ(notes[0].onset, 0);  // the score starts with the bar of the first beat
    EXPECT_DOUBLE_EQ(notes[0].duration, 0.5);
    EXPECT_DOUBLE_EQ(notes[1].onset, 1);
    EXPECT_EQ(ReadMusicXml(xml).measures, 1);
    ASSERT_EQ(ReadMusicXml(xml).tempos.size(), 1u);
    EXPECT_NEAR(ReadMusicXml(xml).tempos[0], 120, 0.5);
}

uint32_t Le32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(s[at + size_t(i)]);
    return v;
}

TEST(Mxl, TheContainerHoldsTheScoreBehindItsMimetypeWithCorrectChecksums) {
    const std::string xml = BuildMusicXml(LayOutScore(Input({{60, 0, 1}, {64, 1, 1}})));
    const std::string zip = BuildMxl(xml, "Stück.musicxml");
    std::map<std::string, std::string> files;
    std::vector<std::string> order;
    for (size_t at = 0; Le32(zip, at) == 0x04034b50;) {
        const int method = uint8_t(zip[at + 8]) | uint8_t(zip[at + 9]) << 8;
        const uint32_t crc = Le32(zip, at + 14), packed = Le32(zip, at + 18), size = Le32(zip, at + 22);
        const size_t nameLength = uint8_t(zip[at + 26]) | uint8_t(zip[at + 27]) << 8;
        const std::string name = zip.substr(at + 30, nameLength);
        const std::string body = zip.substr(at + 30 + nameLength, packed);
        std::string data(size, '\0');
        if (method == 8) {
            z_stream z{};
            ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
            z.avail_in = uInt(body.size());
            z.next_out = reinterpret_cast<Bytef*>(data.data());
            z.avail_out = uInt(data.size());
            EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
            inflateEnd(&z);
        } else {
            EXPECT_EQ(method, 0);
            data = body;
        }
        EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())), crc) << name;
        files[name] = data;
        order.push_back(name);
        at += 30 + nameLength + packed;
    }
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order[0], "mimetype");
    EXPECT_EQ(files["mimetype"], "application/vnd.recordare.musicxml");
    EXPECT_NE(files["META-INF/container.xml"].find("full-path=\"Stück.musicxml\""), std::string::npos);
    EXPECT_EQ(files["Stück.musicxml"], xml);
    // The central directory at the offset the end record names.
    const size_t end = zip.size() - 22;
    EXPECT_EQ(Le32(zip, end), 0x06054b50u);
    EXPECT_EQ(Le32(zip, Le32(zip, end + 16)), 0x02014b50u);
    EXPECT_TRUE(IsCompressedName("a/B.MXL"));
    EXPECT_FALSE(IsCompressedName("a.musicxml"));
}

}  // namespace
