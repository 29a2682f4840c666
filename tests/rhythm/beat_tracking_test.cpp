// Beat tracking against known beats: click tracks at steady and changing
// tempos, pieces rendered with fluidsynth, and the same envelope for every
// thread count.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "RhythmTestSupport.h"
#include "audio/Recording.h"
#include "rhythm/RhythmAnalysis.h"
#include "support/TempDir.h"

namespace notavox {
namespace {

using testing::BeatFMeasure;
using testing::ClickEnvelope;

std::vector<double> Beats(double first, double bpm, double endBpm, int count) {
    std::vector<double> b;
    double t = first;
    for (int i = 0; i < count; ++i) {
        b.push_back(t);
        const double f = count > 1 ? double(i) / (count - 1) : 0;
        t += 60.0 / (bpm + (endBpm - bpm) * f);
    }
    return b;
}

BeatTrack TrackClicks(const std::vector<double>& beats, int rate) {
    const std::vector<float> x = testing::ClickTrack(beats, beats.back() + 1.0, rate);
    const OnsetEnvelope env = ComputeOnsetEnvelope(x.data(), x.size(), rate);
    return TrackBeats(BeatNovelty(env.flux, env.frameRate), env.frameRate);
}

TEST(BeatFMeasure, CountsBeatsWithinTheWindowOnce) {
    const std::vector<double> ref = {1, 2, 3, 4};
    EXPECT_DOUBLE_EQ(BeatFMeasure(ref, ref), 1.0);
    EXPECT_DOUBLE_EQ(BeatFMeasure(ref, {1.06, 2.06, 3.06, 4.06}), 1.0);
    EXPECT_DOUBLE_EQ(BeatFMeasure(ref, {1.08, 2.08, 3.08, 4.08}), 0.0);
    // Every other beat: precision 1, recall 1/2.
    EXPECT_NEAR(BeatFMeasure(ref, {1, 3}), 2.0 / 3.0, 1e-12);
    // Two estimates near one beat count once.
    EXPECT_NEAR(BeatFMeasure({1}, {0.98, 1.02}), 2.0 / 3.0, 1e-12);
    EXPECT_EQ(BeatFMeasure(ref, {}), 0.0);
}

TEST(BeatTracking, FindsSteadyClicksAtEveryTempo) {
    for (double bpm : {60.0, 90.0, 128.0, 175.0}) {
        for (int rate : {44100, 22050}) {
            const std::vector<double> beats = Beats(0.7, bpm, bpm, int(bpm / 2));
            const BeatTrack t = TrackClicks(beats, rate);
            EXPECT_GE(BeatFMeasure(beats, t.beats), 0.95) << bpm << " at " << rate;
            EXPECT_NEAR(t.tempoBpm, bpm, 0.02 * bpm) << rate;
            // Beats land within 15 ms of the clicks.
            for (size_t i = 0; i < std::min(beats.size(), t.beats.size()); ++i)
                if (std::fabs(t.beats[i] - beats[i]) < 0.07) {
                    EXPECT_NEAR(t.beats[i], beats[i], 0.015);
                }
        }
    }
}

TEST(BeatTracking, FollowsAccelerandoAndRitardando) {
    for (auto [from, to] : {std::pair{80.0, 125.0}, std::pair{150.0, 100.0}}) {
        const std::vector<double> beats = Beats(0.5, from, to, 60);
        const BeatTrack t = TrackClicks(beats, 44100);
        EXPECT_GE(BeatFMeasure(beats, t.beats), 0.95) << from << " to " << to;
    }
}

TEST(BeatTracking, FollowsPhrasesThatBroadenAndPressOn) {
    // Phrases of eight beats at 100 a minute whose last three broaden by 7 %
    // a beat, the next phrase back at 100 from its first beat.
    std::vector<double> beats;
    double t = 0.5;
    for (int i = 0; i < 64; ++i) {
        beats.push_back(t);
        const int inPhrase = i % 8;
        t += 0.6 * (inPhrase >= 5 ? std::pow(1.07, inPhrase - 4) : 1.0);
    }
    const BeatTrack found = TrackClicks(beats, 22050);
    EXPECT_GE(BeatFMeasure(beats, found.beats), 0.95);
}

TEST(BeatTracking, GivenTempoIsKept) {
    const std::vector<double> beats = Beats(0.5, 100, 100, 40);
    const std::vector<float> x = testing::ClickTrack(beats, beats.back() + 1, 22050);
    const OnsetEnvelope env = ComputeOnsetEnvelope(x.data(), x.size(), 22050);
    BeatTrackingOptions o;
    o.tempoBpm = 50;  // every other click
    const BeatTrack t = TrackBeats(BeatNovelty(env.flux, env.frameRate), env.frameRate, o);
    EXPECT_NEAR(t.tempoBpm, 50, 2);
}

TEST(BeatTracking, FastNotesTakeTheBeatAtTwiceTheTempo) {
    // Clicks at 160 beats a minute, the beats found on every other one.
    const std::vector<double> clicks = Beats(0.5, 160, 160, 64);
    const std::vector<float> x = testing::ClickTrack(clicks, clicks.back() + 1, 22050);
    const OnsetEnvelope env = ComputeOnsetEnvelope(x.data(), x.size(), 22050);
    const std::vector<float> novelty = BeatNovelty(env.flux, env.frameRate);
    BeatTrack slow;
    for (size_t i = 0; i < clicks.size(); i += 2) slow.beats.push_back(clicks[i]);
    slow.tempoBpm = MedianTempo(slow.beats);
    auto notesEvery = [&](double step) {
        std::vector<TranscribedNote> notes;
        for (double t = 0.5; t < clicks.back(); t += step) notes.push_back({60, t, t + 0.9 * step, 80});
        return notes;
    };
    // Eighths of the faster beat are sixteenths of the slow one: the beat is the faster one.
    const BeatTrack fast = CheckLevelWithNotes(slow, novelty, env.frameRate, notesEvery(60.0 / 320));
    EXPECT_NEAR(fast.tempoBpm, 160, 4);
    EXPECT_GE(BeatFMeasure(clicks, fast.beats), 0.95);
    // Fast notes over a bass that starts only on the slow beats leave them alone.
    std::vector<TranscribedNote> overBass = notesEvery(60.0 / 320);
    for (TranscribedNote& n : overBass) n.pitch = 72;
    for (double t : slow.beats) overBass.push_back({36, t, t + 0.7, 80});
    EXPECT_EQ(CheckLevelWithNotes(slow, novelty, env.frameRate, overBass).beats, slow.beats);
    // Notes on the slow beats and their halves leave the beats alone.
    EXPECT_EQ(CheckLevelWithNotes(slow, novelty, env.frameRate, notesEvery(60.0 / 160)).beats, slow.beats);
    // So does a faster beat above 190 a minute.
    BeatTrack quick = slow;
    quick.tempoBpm = 100;
    EXPECT_EQ(CheckLevelWithNotes(quick, novelty, env.frameRate, notesEvery(0.1)).beats, slow.beats);
    // Beats of 1.5 s with a bass on each and halfway on every other: nine
    // notes a beat divide it in three and keep it, eight in two halve it.
    BeatTrack broad;
    for (int i = 0; i < 16; ++i) broad.beats.push_back(0.5 + 1.5 * i);
    broad.tempoBpm = MedianTempo(broad.beats);
    auto divided = [&](int parts) {
        std::vector<TranscribedNote> notes;
        for (size_t i = 0; i < broad.beats.size(); ++i) {
            const double b = broad.beats[i];
            notes.push_back({40, b, b + 0.7, 80});
            if (i % 2 == 0) notes.push_back({43, b + 0.75, b + 1.4, 80});
            for (int k = 0; k < parts; ++k) notes.push_back({72 + k % 3, b + 1.5 * k / parts, b + 1.5 * (k + 1) / parts, 70});
        }
        return notes;
    };
    EXPECT_EQ(CheckLevelWithNotes(broad, novelty, env.frameRate, divided(9)).beats, broad.beats);
    EXPECT_NEAR(CheckLevelWithNotes(broad, novelty, env.frameRate, divided(8)).tempoBpm, 80, 4);
}

// A note of `top(i)` on every pulse i, and on every third pulse from `first` a
// bass with its chord, whose times go to `accents`.
std::vector<TranscribedNote> AccentedInThrees(const std::vector<double>& pulses, const std::function<int(size_t)>& top,
                                              double length, size_t first, std::initializer_list<int> chord,
                                              double chordLength, std::vector<double>& accents) {
    std::vector<TranscribedNote> notes;
    for (size_t i = 0; i < pulses.size(); ++i) {
        notes.push_back({top(i), pulses[i], pulses[i] + length, 80});
        if (i % 3 == first) {
            accents.push_back(pulses[i]);
            for (int pitch : chord) notes.push_back({pitch, pulses[i], pulses[i] + chordLength, 80});
        }
    }
    return notes;
}

TEST(BeatTracking, FastBeatsWithNothingBetweenAreEighthsOfACompoundBeat) {
    // One note on each click at 168 a minute, a chord over the bass on every third.
    const std::vector<double> clicks = Beats(0.5, 168, 168, 84);
    std::vector<double> dottedQuarters;
    const std::vector<TranscribedNote> notes =
        AccentedInThrees(clicks, [](size_t i) { return 72 + int(i % 3); }, 0.3, 0, {40, 52, 59}, 1.0, dottedQuarters);
    const RhythmAnalysis r = AnalyseRhythm(ClickEnvelope(clicks), notes);
    EXPECT_NEAR(r.beats.tempoBpm, 56, 2);
    EXPECT_GE(BeatFMeasure(dottedQuarters, r.beats.beats), 0.95);
    EXPECT_TRUE(r.metre.compound);
    EXPECT_EQ(r.metre.denominator(), 8);
}

TEST(BeatTracking, EighthsAccentedInThreesMakeADottedQuarterBeat) {
    // Steady eighths at 300 a minute, the bass and a chord on every third: 6/8 at 100.
    const std::vector<double> eighths = Beats(0.5, 300, 300, 150);
    std::vector<double> dottedQuarters;
    const std::vector<TranscribedNote> notes = AccentedInThrees(
        eighths, [](size_t i) { return 76 - int(i % 3); }, 0.18, 1, {41, 53, 60}, 0.55, dottedQuarters);
    const RhythmAnalysis r = AnalyseRhythm(ClickEnvelope(eighths), notes);
    EXPECT_NEAR(r.beats.tempoBpm, 100, 3);
    EXPECT_GE(BeatFMeasure(dottedQuarters, r.beats.beats), 0.95);
    EXPECT_TRUE(r.metre.compound);
}

// A slow piece in triplets (2/4 at 60) heard in eighths at 120: the bass and
// a chord held through each bar, over it eighth triplets, so the notes move
// two thirds of an eighth apart and leave every other eighth without a note.
std::vector<TranscribedNote> SlowTriplets(const std::vector<double>& eighths, bool chordOnEveryEighth, bool bass,
                                          size_t eighthsPerBar = 4) {
    std::vector<TranscribedNote> notes;
    const int roots[4] = {38, 45, 43, 45};
    const size_t n = eighthsPerBar;
    for (size_t bar = 0; n * bar + n - 1 < eighths.size(); ++bar) {
        const double t = eighths[n * bar];
        const int root = roots[bar % 4];
        if (bass)
            for (int p : {root, root + 12, root + 16}) notes.push_back({p, t, t + 0.5 * double(n) - 0.1, 80});
        for (size_t k = 0; k < 3 * n / 2; ++k)
            notes.push_back({74 + int((bar + k) % 5), t + double(k) / 3.0, t + double(k) / 3.0 + 0.3, 80});
        if (chordOnEveryEighth)
            for (size_t k = 1; k < n; ++k) notes.push_back({root + 19, t + 0.5 * double(k), t + 0.5 * double(k) + 0.4, 70});
    }
    return notes;
}

TEST(BeatTracking, NotesMovingLessThanABeatApartLeavingBeatsEmptyHalveTheBeat) {
    const std::vector<double> eighths = Beats(0.5, 120, 120, 64);
    std::vector<double> quarters;
    for (size_t i = 0; i < eighths.size(); i += 2) quarters.push_back(eighths[i]);
    const OnsetEnvelope env = ClickEnvelope(eighths);
    RhythmAnalysis r = AnalyseRhythm(env, SlowTriplets(eighths, false, true));
    EXPECT_NEAR(r.beats.tempoBpm, 60, 2);
    EXPECT_GE(BeatFMeasure(quarters, r.beats.beats), 0.95);
    EXPECT_EQ(r.metre.numerator(), 2);
    EXPECT_EQ(r.metre.denominator(), 4);
    // A chord on every eighth, or the melody alone, keeps the eighths as beats.
    r = AnalyseRhythm(env, SlowTriplets(eighths, true, true));
    EXPECT_NEAR(r.beats.tempoBpm, 120, 3);
    r = AnalyseRhythm(env, SlowTriplets(eighths, false, false));
    EXPECT_NEAR(r.beats.tempoBpm, 120, 3);
    // Bars of six eighths are counted again on the slower beats: 3/4 at 60.
    r = AnalyseRhythm(env, SlowTriplets(eighths, false, true, 6));
    EXPECT_NEAR(r.beats.tempoBpm, 60, 2);
    EXPECT_EQ(r.metre.numerator(), 3);
    EXPECT_EQ(r.metre.denominator(), 4);
}

TEST(BeatTracking, SilenceAndTinyInputGiveNoBeats) {
    const std::vector<float> silence(44100 * 10, 0.0f);
    const OnsetEnvelope env = ComputeOnsetEnvelope(silence.data(), silence.size(), 44100);
    EXPECT_TRUE(TrackBeats(BeatNovelty(env.flux, env.frameRate), env.frameRate).beats.empty());
    const float one = 0.5f;
    const OnsetEnvelope tiny = ComputeOnsetEnvelope(&one, 1, 44100);
    EXPECT_TRUE(TrackBeats(BeatNovelty(tiny.flux, tiny.frameRate), tiny.frameRate).beats.empty());
    const OnsetEnvelope none = ComputeOnsetEnvelope(nullptr, 0, 44100);
    EXPECT_EQ(none.size(), 0u);
    AudioDocument empty;
    EXPECT_TRUE(AnalyseRhythm(empty, {}).beats.beats.empty());
}

TEST(OnsetEnvelope, SameForEveryThreadCountAndFormat) {
    // Long enough (over 80 s) to be split over threads.
    const std::vector<double> beats = Beats(0.3, 111, 111, 170);
    const int rate = 16000;
    const std::vector<float> x = testing::ClickTrack(beats, beats.back() + 1, rate);
    const OnsetEnvelope one = ComputeOnsetEnvelope(x.data(), x.size(), rate, 1);
    const OnsetEnvelope two = ComputeOnsetEnvelope(x.data(), x.size(), rate, 2);
    const OnsetEnvelope three = ComputeOnsetEnvelope(x.data(), x.size(), rate, 3);
    EXPECT_EQ(one.flux, two.flux);
    EXPECT_EQ(one.flux, three.flux);
    EXPECT_EQ(one.lowFlux, three.lowFlux);
    // The recording as 16-bit stereo: both channels equal, same beats.
    AudioDocument doc;
    SampleBlock block = allocateBlock(x.size() * 4);
    for (size_t i = 0; i < x.size(); ++i) {
        const int16_t v = int16_t(std::lround(x[i] * 32767));
        std::memcpy(block.get() + 4 * i, &v, 2);
        std::memcpy(block.get() + 4 * i + 2, &v, 2);
    }
    doc.replace(std::move(block), int32_t(x.size() * 4), rate, true, true);
    const OnsetEnvelope a = ComputeOnsetEnvelope(doc, 1);
    const OnsetEnvelope b = ComputeOnsetEnvelope(doc, 2);
    EXPECT_EQ(a.flux, b.flux);
    ASSERT_EQ(a.size(), one.size());
    EXPECT_DOUBLE_EQ(a.frameRate, one.frameRate);
    const RhythmAnalysis r = AnalyseRhythm(a, {});
    EXPECT_GE(BeatFMeasure(beats, r.beats.beats), 0.95);
}

// Pieces rendered with fluidsynth: beats, tempo and metre.
TEST(BeatTracking, RenderedPieces) {
    if (!testing::HaveFluidsynth()) GTEST_SKIP() << "fluidsynth or the test sound font is missing";
    notavox::testing::TempDir dir;
    struct Case {
        double bpm, endBpm;
        int bar;
        testing::Accompaniment acc;
        int program;
    };
    const Case cases[] = {
        {66, 0, 3, testing::Accompaniment::Waltz, 0},
        {100, 0, 4, testing::Accompaniment::BrokenChords, 0},
        {156, 0, 4, testing::Accompaniment::BlockChords, 24},
        {95, 135, 4, testing::Accompaniment::BlockChords, 0},
        {144, 100, 3, testing::Accompaniment::Waltz, 0},
    };
    double sum = 0;
    for (const Case& c : cases) {
        testing::PieceSpec s;
        s.bpm = c.bpm;
        s.endBpm = c.endBpm;
        s.beatsPerBar = c.bar;
        s.accompaniment = c.acc;
        s.program = c.program;
        s.bars = 10;
        s.tonic = 2;
        s.seed = uint32_t(c.bpm);
        const testing::Piece piece = testing::MakePiece(s);
        const std::string wav = dir.file("piece.wav");
        ASSERT_TRUE(testing::RenderPiece(piece, dir.file("piece.mid"), wav, 22050));
        AudioDocument doc;
        ASSERT_TRUE(LoadRecording(wav, doc, nullptr));
        const RhythmAnalysis r = AnalyseRhythm(doc, piece.notes);
        const double f = BeatFMeasure(piece.beats, r.beats.beats);
        sum += f;
        EXPECT_GE(f, 0.85) << c.bpm;
        if (c.endBpm == 0) {
            EXPECT_NEAR(r.beats.tempoBpm, c.bpm, 0.04 * c.bpm);
        }
        EXPECT_EQ(r.metre.numerator(), c.bar) << c.bpm;
        EXPECT_EQ(r.metre.denominator(), 4);
        ASSERT_LT(size_t(r.metre.firstDownbeat), r.beats.beats.size());
        // The first downbeat is the start of a bar of the piece.
        const double down = r.beats.beats[size_t(r.metre.firstDownbeat)];
        bool onBar = false;
        for (size_t i = 0; i < piece.beats.size(); i += size_t(c.bar))
            onBar = onBar || std::fabs(piece.beats[i] - down) < 0.07;
        EXPECT_TRUE(onBar) << c.bpm;
    }
    EXPECT_GE(sum / std::size(cases), 0.9);
}

// A plain melody (one line of quarters and pairs of eighths, no chords) at
// 120 beats a minute is found at 120, not at 60 or 240.
TEST(BeatTracking, PlainMelodyAtItsOwnTempo) {
    if (!testing::HaveFluidsynth()) GTEST_SKIP() << "fluidsynth or the test sound font is missing";
    notavox::testing::TempDir dir;
    testing::Piece piece;
    testing::Rng rng{120};
    const int scale[] = {0, 2, 4, 5, 7, 9, 11, 12};
    double t = 0.4;
    for (int beat = 0; beat < 48; ++beat) {
        piece.beats.push_back(t);
        const bool eighths = rng.below(3) == 0 && beat % 4 != 3;
        for (int k = 0; k < (eighths ? 2 : 1); ++k) {
            const double on = t + k * 0.25;
            const double len = eighths ? 0.22 : (beat % 4 == 3 ? 0.48 : 0.42);
            piece.notes.push_back({60 + scale[rng.below(8)], on, on + len, 70 + rng.below(30)});
        }
        t += 0.5;
    }
    const std::string wav = dir.file("melody.wav");
    ASSERT_TRUE(testing::RenderPiece(piece, dir.file("melody.mid"), wav, 22050));
    AudioDocument doc;
    ASSERT_TRUE(LoadRecording(wav, doc, nullptr));
    const RhythmAnalysis r = AnalyseRhythm(doc, piece.notes);
    EXPECT_NEAR(r.beats.tempoBpm, 120, 4.8);
    EXPECT_GE(BeatFMeasure(piece.beats, r.beats.beats), 0.9);
}

}  // namespace
}  // namespace notavox
