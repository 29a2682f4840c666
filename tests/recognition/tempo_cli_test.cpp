// notavox-convert --accurate with --tempo, --quantize and --quantize-strength
// as a user runs it: a generated piece is rendered with fluidsynth, converted,
// and the file is played back with python3-mido against the notes and the
// rhythm the same analysis finds here in the test.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "RecognitionSupport.h"
#include "audio/WavFile.h"
#include "cli/ToolRun.h"
#include "recognition/AccurateConversion.h"
#include "rhythm/RhythmTestSupport.h"
#include "rhythm/TempoMappedExport.h"
#include "support/Files.h"
#include "support/TempDir.h"

using namespace notavox;
using namespace notavox::testing;

namespace {

ToolRun run(const std::string& args) { return runConvertTool(args); }

// The tick of a time under the tempo events mido read.
double TickAt(const std::vector<MidoTempo>& tempos, double seconds) {
    MidoTempo t{500000, 0, 0};
    for (const MidoTempo& e : tempos)
        if (e.seconds <= seconds) t = e;
    return double(t.tick) + (seconds - t.seconds) * 1e6 / t.microsPerQuarter * 500;
}

// The file holds this time signature and key signature event.
bool HasSignatures(const std::string& file, const Metre& m, const KeyEstimate& k) {
    const std::string time = std::string("\xFF\x58\x04", 3) + char(m.numerator()) + char(m.denominator() == 8 ? 3 : 2);
    const std::string key = std::string("\xFF\x59\x02", 3) + char(int8_t(k.sharps())) + char(k.minor ? 1 : 0);
    return file.find(time) != std::string::npos && file.find(key) != std::string::npos;
}

bool ByPitchAndTime(const MidoNote& a, const MidoNote& b) {
    return a.pitch != b.pitch ? a.pitch < b.pitch : a.onset < b.onset;
}

}  // namespace

TEST(TempoConverter, FilesFollowTheChoicesAndKeepEveryNote) {
    if (!HaveFluidsynth() || !HaveMido()) GTEST_SKIP() << "fluidsynth, the test sound font or python3-mido is missing";
    TempDir dir;
    PieceSpec recipe;
    recipe.bpm = 96;
    recipe.bars = 6;
    recipe.tonic = 7;
    recipe.accompaniment = Accompaniment::BrokenChords;
    const std::string wav = dir.file("piece.wav");
    ASSERT_TRUE(RenderPiece(MakePiece(recipe), dir.file("piece.mid"), wav, 44100));

    // What the converter must write, from the same analysis run here.
    const TranscribedWav found = transcribeWav(wav);
    const std::vector<TranscribedNote>& notes = found.notes;
    ASSERT_GT(notes.size(), 40u);
    const TempoAnalysis analysis = AnalyseTempo(found.doc, notes);
    std::vector<MidoNote> expected;
    for (const TranscribedNote& n : notes) expected.push_back({n.pitch, n.onset, n.offset, 0, 0});
    std::sort(expected.begin(), expected.end(), ByPitchAndTime);

    auto convert = [&](const std::string& flags, const std::string& name) {
        const ToolRun r = run("--accurate -q " + flags + " '" + wav + "' '" + dir.file(name) + "'");
        EXPECT_EQ(r.status, 0) << flags << ": " << r.output;
        return ReadWithMido(dir.file(name));
    };
    // Every note of the analysis, each within `tolerance` of its times.
    auto expectSameNotes = [&](MidoReading read, double tolerance) {
        ASSERT_EQ(read.notes.size(), expected.size());
        std::sort(read.notes.begin(), read.notes.end(), ByPitchAndTime);
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(read.notes[i].pitch, expected[i].pitch) << i;
            EXPECT_NEAR(read.notes[i].onset, expected[i].onset, tolerance) << i;
            EXPECT_NEAR(read.notes[i].offset, expected[i].offset, tolerance) << i;
        }
    };

    // Tempo auto (the default): the tempo follows the beats, each beat on a
    // beat of the file, the notes at their times within a millisecond.
    const MidoReading automatic = convert("", "auto.mid");
    const TempoMappedLayout autoLayout = LayOutTempoMapped(analysis, notes, {});
    ASSERT_FALSE(automatic.tempos.empty());
    EXPECT_EQ(automatic.tempos.front().tick, 0);
    expectSameNotes(automatic, 0.001);
    EXPECT_TRUE(HasSignatures(readFile(dir.file("auto.mid")), autoLayout.metre, analysis.found.key));
    const double beatTicks = autoLayout.metre.compound ? 750 : 500;
    ASSERT_GT(analysis.found.beats.beats.size(), 20u);
    // On the beats of the bars that follow the upbeat.
    for (double b : analysis.found.beats.beats) {
        const double tick = TickAt(automatic.tempos, b) - double(autoLayout.placed.upbeatTicks);
        EXPECT_NEAR(tick, std::round(tick / beatTicks) * beatTicks, 0.5) << b;
    }

    // A fixed tempo: one tempo event, the notes within half a tick (0.6 ms).
    const MidoReading fixed = convert("--tempo 100", "fixed.mid");
    ASSERT_EQ(fixed.tempos.size(), 1u);
    EXPECT_EQ(fixed.tempos[0].microsPerQuarter, autoLayout.metre.compound ? 400000u : 600000u);
    expectSameNotes(fixed, 0.001);

    // Eighths at full strength: every onset on the grid, exactly the notes the
    // core lays out, none lost and no two of a pitch overlapping.
    auto expectLayout = [&](const MidoReading& read, const TempoMappedLayout& layout) {
        // The file holds the note-ons in the order of their ticks, at one
        // tick in the order of the notes.
        std::vector<TickNote> inFile = layout.placed.notes;
        std::stable_sort(inFile.begin(), inFile.end(), [](auto& a, auto& b) { return a.on < b.on; });
        ASSERT_EQ(read.notes.size(), inFile.size());
        for (size_t i = 0; i < inFile.size(); ++i) {
            EXPECT_EQ(read.notes[i].pitch, inFile[i].pitch) << i;
            EXPECT_EQ(read.notes[i].onTick, inFile[i].on) << i;
            EXPECT_EQ(read.notes[i].offTick, inFile[i].off) << i;
        }
    };
    TempoChoices eighths;
    eighths.grid = QuantizeGrid::Eighth;
    const TempoMappedLayout eighthLayout = LayOutTempoMapped(analysis, notes, eighths);
    const MidoReading quantised = convert("--quantize 1/8", "eighths.mid");
    expectLayout(quantised, eighthLayout);
    ASSERT_EQ(quantised.notes.size(), notes.size());
    for (const MidoNote& q : quantised.notes) {
        EXPECT_EQ((q.onTick - eighthLayout.placed.upbeatTicks) % 250, 0) << q.onset;
        EXPECT_GT(q.offTick, q.onTick) << q.onset;
        for (const MidoNote& o : quantised.notes) {
            if (o.pitch == q.pitch && o.onTick > q.onTick) {
                EXPECT_LE(q.offTick, o.onTick) << q.onset;
            }
        }
    }

    // Sixteenth triplets at half strength: at most half a grid step away.
    TempoChoices half;
    half.grid = QuantizeGrid::SixteenthTriplet;
    half.strengthPercent = 50;
    const TempoMappedLayout halfLayout = LayOutTempoMapped(analysis, notes, half);
    expectLayout(convert("--quantize 1/16t --quantize-strength 50", "half.mid"), halfLayout);
    for (size_t i = 0; i < notes.size(); ++i)
        EXPECT_LE(std::llabs(halfLayout.placed.notes[i].on - autoLayout.placed.notes[i].on), 43) << i;
}

TEST(TempoConverter, BadValuesAreRefused) {
    TempDir dir;
    const std::string files = " '" + dir.file("in.wav") + "' '" + dir.file("out.mid") + "'";
    const struct {
        const char* args;
        const char* message;
    } cases[] = {
        {"--accurate --tempo 0", "--tempo 0: erlaubt sind auto oder 20 bis 300 Schläge pro Minute"},
        {"--accurate --tempo schnell", "--tempo schnell: erlaubt sind auto"},
        {"--accurate --tempo 300.5", "--tempo 300.5: erlaubt sind"},
        {"--accurate --quantize 1/32", "--quantize 1/32: erlaubt sind OFF, 1/4, 1/8, 1/16, 1/8T, 1/16T"},
        {"--accurate --quantize 1/8 --quantize-strength 101", "--quantize-strength 101: erlaubt sind 0 bis 100"},
        {"--accurate --quantize-strength 50.5", "--quantize-strength 50.5: erlaubt sind 0 bis 100"},
        {"--tempo 90", "--tempo gilt nur mit --accurate"},
        {"--quantize 1/8 --accurate", ""},  // the order of the flags does not matter: the input is missing
    };
    for (const auto& c : cases) {
        const ToolRun r = run(std::string(c.args) + files);
        EXPECT_EQ(r.status, *c.message ? 2 : 1) << c.args << ": " << r.output;
        EXPECT_NE(r.output.find(*c.message ? c.message : "Konnte Datei nicht öffnen"), std::string::npos)
            << c.args << ": " << r.output;
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.mid"))) << c.args;
    }
    const ToolRun missing = run("--accurate --quantize");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.output.find("--quantize ohne Wert: erlaubt sind"), std::string::npos) << missing.output;

    EXPECT_EQ(ParseTempoBpm("AUTO"), 0.0);
    EXPECT_EQ(ParseTempoBpm("84,5"), 84.5);
    EXPECT_EQ(ParseTempoBpm("20"), 20.0);
    EXPECT_EQ(ParseStrengthPercent("35%"), 35);
    EXPECT_FALSE(ParseStrengthPercent("").has_value());

    const ToolRun help = run("--help");
    for (const char* flag : {"--tempo auto|BPM", "--quantize RASTER", "--quantize-strength PROZENT"})
        EXPECT_NE(help.output.find(flag), std::string::npos) << flag;
}

// A recording without music: digital silence, a minute of dither (+-1 in
// 16 bits, which full-level scaling would raise to loud noise) and loud white
// noise each give a file with the one default tempo; silence and dither give
// no notes. Loud white noise may still give a stray short note in the top
// octaves (one C6 of 60 ms in these 20 s), but never a tempo map of its own.
TEST(TempoConverter, SilenceAndNoiseGiveNoNotesAndOneTempo) {
    if (!HaveMido()) GTEST_SKIP() << "python3-mido is missing";
    TempDir dir;
    Rng rng{7};
    const struct {
        const char* name;
        int amplitude;
        int seconds;
    } inputs[] = {{"silence", 0, 10}, {"dither", 1, 60}, {"noise", 3000, 20}};
    for (const auto& in : inputs) {
        std::vector<int16_t> samples(size_t(44100 * in.seconds));
        for (int16_t& s : samples) s = int16_t(in.amplitude ? rng.below(2 * in.amplitude + 1) - in.amplitude : 0);
        const std::string wav = dir.file(std::string(in.name) + ".wav");
        const std::string mid = dir.file(std::string(in.name) + ".mid");
        ASSERT_TRUE(WriteWAVFile(wav, reinterpret_cast<const uint8_t*>(samples.data()), false, true, 44100,
                                 int32_t(samples.size() * 2)));
        const ToolRun r = run("--accurate -q '" + wav + "' '" + mid + "'");
        ASSERT_EQ(r.status, 0) << in.name << ": " << r.output;
        const MidoReading read = ReadWithMido(mid);
        for (const MidoNote& n : read.notes)
            if (in.amplitude <= 1 || read.notes.size() > 1) ADD_FAILURE() << in.name << ": key " << n.pitch << " from " << n.onset << " s to " << n.offset << " s";
        ASSERT_EQ(read.tempos.size(), 1u) << in.name;
        EXPECT_EQ(read.tempos[0].microsPerQuarter, 500000u) << in.name;
    }
}
