#include <gtest/gtest.h>

#include "recognition/NetworkOutputs.h"
#include "recognition/NoteDecoder.h"

using namespace notavox;
using namespace notavox::recognition;

namespace {

// The whole decoding of outputs [T][88] each.
std::vector<TranscribedNote> DecodeNotes(const std::vector<float>& onset, const std::vector<float>& frame,
                                         const std::vector<float>& velocity, int64_t T, const DecodeSettings& settings) {
    // Transpose to key-major rows for the frame-by-frame decoder.
    std::vector<float> rows[3];
    const std::vector<float>* src[3] = {&onset, &frame, &velocity};
    for (int h = 0; h < 3; ++h) {
        rows[h].resize(size_t(T) * 88);
        for (int64_t t = 0; t < T; ++t)
            for (int k = 0; k < 88; ++k) rows[h][size_t(k) * size_t(T) + size_t(t)] = (*src[h])[size_t(t) * 88 + size_t(k)];
    }
    NoteDecoder d(settings);
    if (T > 0) d.add(0, int(T), rows[0].data(), rows[1].data(), rows[2].data(), size_t(T));
    return d.finish(T);
}

// Hand-made outputs [T][88], all zero to begin with.
struct Activations {
    explicit Activations(int frames) : T(frames), onset(size_t(T) * 88), frame(size_t(T) * 88), velocity(size_t(T) * 88) {}
    // A note of `key`: an onset peak at `start`, frame values from start to
    // end - 1, the velocity output at the start.
    void note(int key, int start, int end, float peak = 0.9f, float vel = 0.5f) {
        at(onset, start, key) = peak;
        if (start > 0) at(onset, start - 1, key) = std::max(at(onset, start - 1, key), peak * 0.5f);
        if (start + 1 < T) at(onset, start + 1, key) = std::max(at(onset, start + 1, key), peak * 0.4f);
        for (int t = start; t < end && t < T; ++t) at(frame, t, key) = 0.8f;
        at(velocity, start, key) = vel;
    }
    float& at(std::vector<float>& v, int t, int key) { return v[size_t(t) * 88 + size_t(key)]; }
    std::vector<TranscribedNote> decode(const DecodeSettings& s = settings()) const {
        return DecodeNotes(onset, frame, velocity, T, s);
    }
    static DecodeSettings settings() { return DecodeSettings{0.5f, 0.3f, 3}; }
    int T;
    std::vector<float> onset, frame, velocity;
};

void expectNote(const TranscribedNote& n, int pitch, int start, int end, int velocity) {
    EXPECT_EQ(n.pitch, pitch);
    EXPECT_DOUBLE_EQ(n.onset, start * 0.01);
    EXPECT_DOUBLE_EQ(n.offset, end * 0.01);
    EXPECT_EQ(n.velocity, velocity);
}

}  // namespace

TEST(RecognitionDecoder, HeldNoteLastsWhileTheFrameOutputStaysUp) {
    Activations a(60);
    a.note(40, 10, 30, 0.9f, 0.5f);
    const auto notes = a.decode();
    ASSERT_EQ(notes.size(), 1u);
    expectNote(notes[0], 61, 10, 30, 64);  // 127 * 0.5 = 63.5 rounds to the even 64
}

TEST(RecognitionDecoder, RepeatedNoteStartsAgainAtTheNextOnset) {
    Activations a(60);
    a.note(40, 10, 36);
    a.note(40, 20, 36, 0.7f, 1.0f);
    const auto notes = a.decode();
    ASSERT_EQ(notes.size(), 2u);
    expectNote(notes[0], 61, 10, 20, 64);
    expectNote(notes[1], 61, 20, 36, 127);
}

TEST(RecognitionDecoder, ChordGivesOneNotePerKeyInPitchOrder) {
    Activations a(40);
    a.note(46, 5, 25, 0.9f, 0.0f);
    a.note(39, 5, 20);
    a.note(43, 5, 40);
    const auto notes = a.decode();
    ASSERT_EQ(notes.size(), 3u);
    expectNote(notes[0], 60, 5, 20, 64);
    expectNote(notes[1], 64, 5, 40, 64);  // held to the end of the recording
    expectNote(notes[2], 67, 5, 25, 1);   // velocity output 0 still gives 1
}

TEST(RecognitionDecoder, NotesShorterThanTheMinimumAreDropped) {
    Activations a(40);
    a.note(10, 5, 7);    // 2 frames
    a.note(20, 5, 8);    // 3 frames: kept
    a.note(30, 20, 20);  // the onset frame alone
    const auto notes = a.decode();
    ASSERT_EQ(notes.size(), 1u);
    expectNote(notes[0], 41, 5, 8, 64);
    DecodeSettings one = Activations::settings();
    one.minFrames = 1;
    EXPECT_EQ(a.decode(one).size(), 3u);
}

TEST(RecognitionDecoder, PeakPickingAndThresholds) {
    Activations a(30);
    // A flat top of two frames starts its note on the second one.
    a.at(a.onset, 4, 0) = 0.8f;
    a.at(a.onset, 5, 0) = 0.8f;
    for (int t = 4; t < 12; ++t) a.at(a.frame, t, 0) = 0.5f;
    // Below the onset threshold: no note at all.
    a.at(a.onset, 8, 1) = 0.49f;
    for (int t = 8; t < 20; ++t) a.at(a.frame, t, 1) = 0.9f;
    // Frame output exactly at the threshold keeps the note.
    a.note(2, 10, 10);
    for (int t = 11; t < 15; ++t) a.at(a.frame, t, 2) = 0.3f;
    // Onsets in the first and the last frame (neighbours outside count as 0).
    a.at(a.onset, 0, 3) = 0.6f;
    for (int t = 0; t < 4; ++t) a.at(a.frame, t, 3) = 0.6f;
    a.at(a.onset, 29, 4) = 0.6f;
    DecodeSettings one = Activations::settings();
    one.minFrames = 1;
    const auto notes = a.decode(one);
    ASSERT_EQ(notes.size(), 4u);
    expectNote(notes[0], 24, 0, 4, 1);
    expectNote(notes[1], 21, 5, 12, 1);
    expectNote(notes[2], 23, 10, 15, 64);
    expectNote(notes[3], 25, 29, 30, 1);
}

// A weaker note 12, 19 or 24 keys above one that starts within the window
// is taken for its overtone; other intervals, stronger notes and later ones
// stay.
TEST(RecognitionDecoder, OvertonesOfALowerNoteAreDropped) {
    Activations a(60);
    a.note(40, 10, 30, 0.9f);
    a.note(52, 11, 30, 0.6f);  // octave, below 0.7 * 0.9 = 0.63: dropped
    a.note(59, 9, 30, 0.65f);  // twelfth, strong enough: kept
    a.note(64, 16, 30, 0.2f);  // two octaves, 6 frames later: kept
    a.note(47, 10, 30, 0.2f);  // a fifth: kept
    a.note(52, 40, 50, 0.3f);  // the octave again, with no note below: kept
    DecodeSettings s{0.1f, 0.3f, 3, 0.7f, 3};
    const auto notes = a.decode(s);
    ASSERT_EQ(notes.size(), 5u);
    expectNote(notes[0], 80, 9, 30, 64);
    expectNote(notes[1], 61, 10, 30, 64);
    expectNote(notes[2], 68, 10, 30, 64);
    expectNote(notes[3], 85, 16, 30, 64);
    expectNote(notes[4], 73, 40, 50, 64);
    s.overtoneRatio = 0.0f;
    EXPECT_EQ(a.decode(s).size(), 6u);
}

// The rule looks for the overtones at the intervals the settings give.
TEST(RecognitionDecoder, OvertoneIntervalsFromTheSettings) {
    Activations a(60);
    a.note(30, 10, 30, 0.9f);
    a.note(58, 10, 30, 0.4f);  // 28 keys up: the fifth partial
    a.note(61, 11, 30, 0.4f);  // 31 keys up: the sixth
    a.note(42, 10, 30, 0.4f);  // the octave
    DecodeSettings s{0.1f, 0.3f, 3, 0.9f, 2};
    auto notes = a.decode(s);
    ASSERT_EQ(notes.size(), 3u);  // 12, 19 and 24 unless the settings say otherwise
    EXPECT_EQ(notes[1].pitch, 79);
    EXPECT_EQ(notes[2].pitch, 82);
    s.overtoneIntervals = {12, 19, 24, 28, 31};
    notes = a.decode(s);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].pitch, 51);
    s.overtoneIntervals = {28};
    notes = a.decode(s);
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[1].pitch, 63);  // the octave stays
    EXPECT_EQ(notes[2].pitch, 82);
}

// With the velocity condition, a weaker note above a lower one is dropped
// only when it is also quieter: a melody an octave above its bass stays.
TEST(RecognitionDecoder, OvertonesMustAlsoBeQuieterWhenAsked) {
    Activations a(60);
    a.note(40, 10, 30, 0.9f, 0.5f);  // velocity 64
    a.note(52, 11, 30, 0.6f, 0.6f);  // octave, weaker but louder (76): kept
    a.note(59, 10, 30, 0.6f, 0.5f);  // twelfth, as loud (64): kept at 1.0, dropped at 1.05
    a.note(64, 10, 30, 0.6f, 0.3f);  // two octaves, quieter (38): dropped
    DecodeSettings s{0.1f, 0.3f, 3, 0.7f, 3, 1.0f};
    auto notes = a.decode(s);
    ASSERT_EQ(notes.size(), 3u);
    expectNote(notes[0], 61, 10, 30, 64);
    expectNote(notes[1], 80, 10, 30, 64);
    expectNote(notes[2], 73, 11, 30, 76);
    s.overtoneVelocity = 1.05f;
    notes = a.decode(s);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].pitch, 73);
    s.overtoneVelocity = 0.0f;  // off: the onset values alone decide
    EXPECT_EQ(a.decode(s).size(), 1u);
}

// Each key decodes with its own thresholds and minimum length where the
// settings have them; the user's sensitivity moves them all alike, the
// user's shortest note holds for every key.
TEST(RecognitionDecoder, EachKeyHasItsOwnThresholdsAndLength) {
    Activations a(40);
    a.note(10, 5, 20, 0.4f);
    a.note(70, 5, 20, 0.4f);
    a.note(80, 5, 7, 0.9f);  // two frames
    DecodeSettings s = Activations::settings();
    EXPECT_TRUE(a.decode(s).empty());
    s.keyOnsetThresholds.assign(88, 0.5f);
    s.keyOnsetThresholds[70] = 0.35f;
    s.keyMinFrames.assign(88, 3);
    s.keyMinFrames[80] = 2;
    auto notes = a.decode(s);
    ASSERT_EQ(notes.size(), 2u);
    expectNote(notes[0], 91, 5, 20, 64);
    expectNote(notes[1], 101, 5, 7, 64);
    s.keyFrameThresholds.assign(88, 0.3f);
    s.keyFrameThresholds[70] = 0.85f;  // above the frame values: the note ends after its onset frame
    notes = a.decode(s);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].pitch, 101);
    s.keyMinFrames[70] = 1;
    notes = a.decode(s);
    ASSERT_EQ(notes.size(), 2u);
    expectNote(notes[0], 91, 5, 6, 64);

    DecodeOverrides o;
    o.sensitivityPercent = 60;  // onset threshold 0.4: every key 0.1 lower
    DecodeSettings more = WithOverrides(s, o);
    EXPECT_FLOAT_EQ(more.onsetThreshold, 0.4f);
    EXPECT_FLOAT_EQ(more.keyOnsetThresholds[10], 0.4f);
    EXPECT_FLOAT_EQ(more.keyOnsetThresholds[70], 0.25f);
    EXPECT_EQ(SensitivityPercent(more), 60);
    EXPECT_EQ(a.decode(more).size(), 3u);
    o.sensitivityPercent = 99;  // kept within reach of a probability
    more = WithOverrides(s, o);
    EXPECT_FLOAT_EQ(more.keyOnsetThresholds[70], 0.01f);
    EXPECT_FLOAT_EQ(more.keyOnsetThresholds[10], 0.01f);
    o.sensitivityPercent = 50;  // the model's own: nothing moves
    EXPECT_EQ(WithOverrides(s, o).keyOnsetThresholds, s.keyOnsetThresholds);
    o = {};
    o.shortestNoteMs = 30;
    const DecodeSettings longer = WithOverrides(s, o);
    EXPECT_TRUE(longer.keyMinFrames.empty());
    EXPECT_EQ(longer.keyFrameThresholds, s.keyFrameThresholds);
    EXPECT_TRUE(a.decode(longer).empty());  // the two-frame note and the one-frame note go
}

// Fed in parts of any size, the decoder finds the same notes.
TEST(RecognitionDecoder, PartsGiveTheSameNotes) {
    Activations a(200);
    for (int i = 0; i < 30; ++i) a.note((i * 37) % 88, (i * 13) % 190, (i * 13) % 190 + 3 + i % 20, 0.6f + 0.01f * i, 0.02f * i);
    for (int i = 0; i < 8; ++i) a.note((i * 37) % 88 + 12, (i * 13) % 190 + 1, (i * 13) % 190 + 9, 0.55f);
    DecodeSettings settings = Activations::settings();
    settings.overtoneRatio = 0.9f;
    settings.overtoneFrames = 2;
    const auto whole = a.decode(settings);
    ASSERT_GT(whole.size(), 10u);
    ASSERT_LT(whole.size(), a.decode().size());  // some overtones went
    for (int part : {1, 2, 7, 64, 199}) {
        // Key-major rows, as the conversion hands them over.
        std::vector<float> rows[3];
        const std::vector<float>* src[3] = {&a.onset, &a.frame, &a.velocity};
        NoteDecoder d(settings);
        for (int t0 = 0; t0 < a.T; t0 += part) {
            const int n = std::min(part, a.T - t0);
            for (int h = 0; h < 3; ++h) {
                rows[h].assign(size_t(88) * size_t(n), 0.0f);
                for (int k = 0; k < 88; ++k)
                    for (int i = 0; i < n; ++i) rows[h][size_t(k) * size_t(n) + size_t(i)] = (*src[h])[size_t(t0 + i) * 88 + size_t(k)];
            }
            d.add(t0, n, rows[0].data(), rows[1].data(), rows[2].data(), size_t(n));
        }
        const auto notes = d.finish(a.T);
        ASSERT_EQ(notes.size(), whole.size()) << part;
        for (size_t i = 0; i < notes.size(); ++i) {
            EXPECT_EQ(notes[i].pitch, whole[i].pitch);
            EXPECT_EQ(notes[i].onset, whole[i].onset);
            EXPECT_EQ(notes[i].offset, whole[i].offset);
            EXPECT_EQ(notes[i].velocity, whole[i].velocity);
        }
    }
}

// The outputs kept block by block decode as the whole outputs do, with any
// settings; the sensitivity and shortest note map onto the thresholds; past
// its limit nothing is kept.
TEST(RecognitionDecoder, KeptOutputsDecodeAgainAsTheWholeOutputs) {
    Activations a(300);
    for (int i = 0; i < 40; ++i) a.note((i * 29) % 88, (i * 7) % 280, (i * 7) % 280 + 2 + i % 15, 0.3f + 0.015f * i, 0.02f * i);
    NetworkOutputs kept;
    std::vector<float> rows[3];
    const std::vector<float>* src[3] = {&a.onset, &a.frame, &a.velocity};
    for (int t0 = 0; t0 < a.T; t0 += 64) {
        const int n = std::min(64, a.T - t0);
        for (int h = 0; h < 3; ++h) {
            // With a stride wider than the block, as the network's buffers have.
            rows[h].assign(size_t(88) * size_t(n + 5), -1.0f);
            for (int k = 0; k < 88; ++k)
                for (int i = 0; i < n; ++i) rows[h][size_t(k) * size_t(n + 5) + size_t(i)] = (*src[h])[size_t(t0 + i) * 88 + size_t(k)];
        }
        kept.add(t0, n, rows[0].data(), rows[1].data(), rows[2].data(), size_t(n + 5));
    }
    EXPECT_EQ(kept.frames(), 300);
    EXPECT_EQ(kept.bytes(), size_t(300) * 88 * 3 * sizeof(float));
    size_t previous = 0;
    for (const int percent : {20, 50, 80}) {
        for (const int ms : {10, 50}) {
            DecodeOverrides o;
            o.sensitivityPercent = percent;
            o.shortestNoteMs = ms;
            const DecodeSettings s = WithOverrides(Activations::settings(), o);
            EXPECT_FLOAT_EQ(s.onsetThreshold, float(100 - percent) / 100.0f);
            EXPECT_EQ(s.minFrames, ms / 10);
            EXPECT_EQ(SensitivityPercent(s), percent);
            EXPECT_EQ(ShortestNoteMs(s), ms);
            const auto again = kept.decode(s);
            const auto whole = a.decode(s);
            ASSERT_EQ(again.size(), whole.size());
            for (size_t i = 0; i < again.size(); ++i) {
                EXPECT_EQ(again[i].pitch, whole[i].pitch);
                EXPECT_EQ(again[i].onset, whole[i].onset);
                EXPECT_EQ(again[i].offset, whole[i].offset);
                EXPECT_EQ(again[i].velocity, whole[i].velocity);
            }
            if (ms == 10) {
                EXPECT_GE(again.size(), previous) << "more sensitive, not fewer notes";
                previous = again.size();
            }
        }
    }
    EXPECT_EQ(WithOverrides(Activations::settings(), {}).onsetThreshold, Activations::settings().onsetThreshold);

    NetworkOutputs small(size_t(88) * 3 * sizeof(float) * 100);
    const std::vector<float> zeros(size_t(88) * 64, 0.0f);
    small.add(0, 64, zeros.data(), zeros.data(), zeros.data(), 64);
    EXPECT_FALSE(small.empty());
    small.add(64, 64, zeros.data(), zeros.data(), zeros.data(), 64);
    EXPECT_TRUE(small.empty());
    EXPECT_TRUE(small.dropped());
    EXPECT_EQ(small.bytes(), 0u);
}
