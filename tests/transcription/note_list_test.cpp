#include <random>

#include <gtest/gtest.h>

#include "LiteralAssembly.h"
#include "TestSupport.h"
#include "transcription/NoteList.h"

using namespace notavox;
using namespace notavox::testing;

TEST(Song, FreshSongHasSixteenTracks) {
    Song song;
    EXPECT_EQ(song.division, 500);
    ASSERT_EQ(song.trackCount(), 16);
    for (int32_t i = 0; i < 16; ++i) {
        const auto ev = events(*song.track(i));
        ASSERT_EQ(ev.size(), 2u);
        EXPECT_EQ(ev[0].kind, kProgramChange);
        EXPECT_EQ(ev[0].channel, i);
        EXPECT_EQ(ev[0].dataLength, 1);
        EXPECT_EQ(ev[0].data.bytes[0], 0);
        EXPECT_EQ(ev[0].time, 0u);
        EXPECT_TRUE(isEndOfTrack(ev[1]));
        EXPECT_EQ(ev[1].channel, 15);
        EXPECT_EQ(ev[1].dataLength, 0);
    }
    EXPECT_EQ(song.track(16), nullptr);
    DelAllTracks(song);
    EXPECT_EQ(song.trackCount(), 0);
    MidiNeu(song);
    EXPECT_EQ(song.trackCount(), 16);
}

TEST(MakeEditable, PairsNoteOnsWithTheNextOffOfTheirChannel) {
    Song song;
    TDynaArray& t0 = *song.track(0);
    FreeListData(t0);
    t0.Clear();
    NoteEvent on = detection(0, 60, 90, 10, 0);   // at 10
    NoteEvent on2 = detection(0, 64, 80, 5, 0);   // at 15
    NoteEvent off = detection(0, 60, 0, 20, 0);   // note-on with velocity 0 at 35: ends the latest (64)
    NoteEvent off2 = detection(0, 60, 70, 15, 0); // at 50
    off2.kind = kNoteOff;
    const NoteEvent text = metaText(1, "Melody", 1);  // at 51
    on.channel = on2.channel = off.channel = off2.channel = 3;
    for (const NoteEvent& e : {on, on2, off, off2, text}) append(t0, e);
    MakeEditable(song);
    ASSERT_TRUE(song.editList);
    const auto ev = events(*song.editList);
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[0].data.bytes[0], 64);
    EXPECT_EQ(ev[0].time, 15u);
    EXPECT_EQ(ev[0].duration, 20u);
    EXPECT_EQ(ev[1].data.bytes[0], 60);
    EXPECT_EQ(ev[1].time, 10u);
    EXPECT_EQ(ev[1].duration, 40u);
    EXPECT_EQ(ev[2].time, 51u);
    EXPECT_NE(ev[2].data.block, text.data.block);
    EXPECT_EQ(std::memcmp(ev[2].data.block, "Melody", 6), 0);
    KonvertEditedTrack(song);
    EXPECT_FALSE(song.editList);
}

TEST(MakeEditable, FreshSongGivesProgramChangeAndEnd) {
    Song song;
    MakeEditable(song);
    const auto ev = events(*song.editList);
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].kind, kProgramChange);
    EXPECT_TRUE(isEndOfTrack(ev[1]));
    EXPECT_EQ(ev[0].duration, 0u);
    EXPECT_EQ(song.microsPerTick, 1000u);
}

TEST(DeltaTicks, RoundsHalvesToEven) {
    EXPECT_EQ(DeltaTicks(115, 0, 1000), 115u);
    EXPECT_EQ(DeltaTicks(3, 2, 2000), 0u);   // 0.5 -> 0
    EXPECT_EQ(DeltaTicks(5, 2, 2000), 2u);   // 1.5 -> 2
    EXPECT_EQ(DeltaTicks(7, 2, 2000), 2u);   // 2.5 -> 2
    EXPECT_EQ(DeltaTicks(10, 0, 3000), 3u);  // 3.33 -> 3
    EXPECT_EQ(DeltaTicks(11, 0, 3000), 4u);  // 3.67 -> 4
}

namespace {

// A song whose edit list holds the fresh song's two records and `dets`.
void prepare(Song& song, const std::vector<NoteEvent>& dets) {
    MakeEditable(song);
    for (const NoteEvent& e : dets) append(*song.editList, e);
}

std::vector<NoteEvent> trackAfter(bool fast, const std::vector<NoteEvent>& dets) {
    Song song;
    prepare(song, dets);
    if (fast) KonvertEditedTrack(song);
    else LiteralKonvertEditedTrack(song);
    return events(*song.track(0));
}

}  // namespace

TEST(KonvertEditedTrack, RunOfFiveWindowsBecomesOneNote) {
    std::vector<NoteEvent> dets;
    const uint8_t vel[] = {60, 90, 70, 80, 50};
    for (int w = 5; w <= 9; ++w) dets.push_back(detection(w, 69, vel[w - 5], uint32_t((w + 1) * 23), 23));
    const auto t = trackAfter(true, dets);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].kind, kNoteOn);
    EXPECT_EQ(t[0].time, 138u);
    EXPECT_EQ(t[0].data.bytes[1], 90);
    EXPECT_EQ(t[0].channel, 69 % 8);
    EXPECT_EQ(t[1].kind, kNoteOff);
    EXPECT_EQ(t[1].time, 115u);
    EXPECT_EQ(t[1].data.bytes[0], 69);
    EXPECT_EQ(t[1].data.bytes[1], 90);
    EXPECT_TRUE(isEndOfTrack(t[2]));
    EXPECT_EQ(t[2].time, 0u);
}

TEST(KonvertEditedTrack, ShortRunsAndGaps) {
    std::vector<NoteEvent> four;
    for (int w = 5; w <= 8; ++w) four.push_back(detection(w, 69, 80, uint32_t((w + 1) * 23), 23));
    const auto t = trackAfter(true, four);
    ASSERT_EQ(t.size(), 1u);  // 92 ms is dropped, and the program change with it
    EXPECT_TRUE(isEndOfTrack(t[0]));

    std::vector<NoteEvent> two;
    for (int w = 0; w < 5; ++w) two.push_back(detection(w, 50, 80, uint32_t((w + 1) * 23), 23));
    for (int w = 6; w < 11; ++w) two.push_back(detection(w, 50, 70, uint32_t((w + 1) * 23), 23));
    const auto u = trackAfter(true, two);
    ASSERT_EQ(u.size(), 5u);
    EXPECT_EQ(u[0].kind, kNoteOn);
    EXPECT_EQ(u[1].kind, kNoteOff);
    EXPECT_EQ(u[2].kind, kNoteOn);
    EXPECT_EQ(u[3].kind, kNoteOff);
    EXPECT_EQ(u[0].time + u[1].time, 23u + 115u);
}

TEST(KonvertEditedTrack, NoteOffBeforeNoteOnAtTheSameInstant) {
    // Note 60 from 23 ms for 115 ms ends at 138, where note 62 starts.
    std::vector<NoteEvent> dets;
    for (int w = 0; w < 5; ++w) dets.push_back(detection(w, 60, 80, uint32_t((w + 1) * 23), 23));
    for (int w = 5; w < 10; ++w) dets.push_back(detection(w, 62, 80, uint32_t(w * 23 + 23), 23));
    const auto t = trackAfter(true, dets);
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[1].kind, kNoteOff);
    EXPECT_EQ(t[1].data.bytes[0], 60);
    EXPECT_EQ(t[2].kind, kNoteOn);
    EXPECT_EQ(t[2].data.bytes[0], 62);
    EXPECT_EQ(t[2].time, 0u);
    for (const NoteEvent& e : t) EXPECT_NE(e.kind, kProgramChange);
}

TEST(KonvertEditedTrack, ChordOnsComeInDescendingNoteOrder) {
    std::vector<NoteEvent> dets;
    for (int w = 0; w < 6; ++w)
        for (uint8_t n : {48, 52, 55}) dets.push_back(detection(w, n, 80, uint32_t((w + 1) * 23), 23));
    const auto t = trackAfter(true, dets);
    ASSERT_EQ(t.size(), 7u);
    EXPECT_EQ(t[0].data.bytes[0], 55);
    EXPECT_EQ(t[1].data.bytes[0], 52);
    EXPECT_EQ(t[2].data.bytes[0], 48);
    // Note-offs in the order of their note-ons before sorting: 48, 52, 55.
    EXPECT_EQ(t[3].data.bytes[0], 48);
    EXPECT_EQ(t[4].data.bytes[0], 52);
    EXPECT_EQ(t[5].data.bytes[0], 55);
}

namespace {

// Random detection lists: runs of several notes with gaps, chords, equal
// times, any window order now and then, notes on every channel.
std::vector<NoteEvent> randomDetections(std::mt19937& rng, int size) {
    std::vector<NoteEvent> v;
    const int style = int(rng() % 4);
    int32_t window = 0;
    while (int(v.size()) < size) {
        const int chord = 1 + int(rng() % 5);
        for (int c = 0; c < chord; ++c) {
            const uint8_t note = uint8_t(style == 3 ? rng() % 128 : 40 + rng() % 12);
            const uint32_t dur = style == 2 ? uint32_t(rng() % 60) : 23;
            uint32_t time = style == 1 ? uint32_t(rng() % 50) * 23 : uint32_t(window + 1) * 23;
            v.push_back(detection(window, note, uint8_t(50 + rng() % 78), time, dur));
            if (style == 3) v.back().channel = uint8_t(rng() % 16);
        }
        window += (rng() % 6 == 0) ? int32_t(rng() % 3) + 2 : 1;
        if (style == 1 && rng() % 4 == 0) window = int32_t(rng() % 40);
    }
    return v;
}

}  // namespace

TEST(KonvertEditedTrack, SameTrackAsTheStepByStepAssembly) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 400; ++round) {
        const int size = round < 300 ? int(rng() % 200) : int(rng() % 3000);
        const auto dets = randomDetections(rng, size);
        const auto fast = trackAfter(true, dets);
        const auto slow = trackAfter(false, dets);
        ASSERT_EQ(fast.size(), slow.size()) << "round " << round;
        for (size_t i = 0; i < fast.size(); ++i)
            ASSERT_TRUE(sameEvent(fast[i], slow[i])) << "round " << round << " event " << i << ": "
                                                      << describe(fast[i]) << " vs " << describe(slow[i]);
    }
}

