// The note list and its edits: what each edit changes, that its change taken
// back restores the list exactly, snapping and quantising, and the limits.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "notes/NoteEditing.h"

using namespace notavox;

namespace {

std::vector<TranscribedNote> three() { return {{60, 1.0, 1.5, 100}, {64, 2.0, 2.25, 50}, {67, 3.0, 4.0, 90}}; }

uint32_t idOf(const NoteList& l, int pitch) {
    for (const EditNote& n : l.notes())
        if (n.pitch == pitch) return n.id;
    return 0;
}

}  // namespace

TEST(NoteList, EveryEditTakenBackAndAgainGivesTheSameNotes) {
    NoteList l;
    l.reset(three());
    const std::vector<TranscribedNote> start = l.plain();
    const SnapGrid grid = GridFromBeats({0.0, 0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0}, 1, 5.0);
    struct Case {
        const char* name;
        std::function<NoteChange(NoteList&)> edit;
    };
    const std::vector<Case> cases = {
        {"Note verschieben", [](NoteList& n) { n.selectOnly(idOf(n, 64)); return n.move(0.3, 2); }},
        {"Note verschieben", [&](NoteList& n) { n.selectAll(); return n.move(0.3, -1, grid); }},
        {"Notenlänge ändern", [](NoteList& n) { return n.resize(idOf(n, 67), 5.0); }},
        {"Noten löschen", [](NoteList& n) { n.selectOnly(idOf(n, 60)); n.toggle(idOf(n, 67)); return n.removeSelected(); }},
        {"Note hinzufügen", [&](NoteList& n) { return n.add(72, 2.6, 0.5, 70, grid); }},
        {"Anschlag ändern", [](NoteList& n) { n.selectAll(); return n.setVelocity(127); }},
        {"Noten quantisieren", [&](NoteList& n) { n.selectAll(); return n.quantise(GridFromBeats({0.0, 0.4, 0.8}, 1, 5)); }},
        {"Empfindlichkeit ändern", [](NoteList& n) { return n.replaceAll({{50, 0.1, 0.2, 10}}, "Empfindlichkeit ändern"); }},
    };
    for (const Case& c : cases) {
        l.reset(start);
        const NoteChange change = c.edit(l);
        ASSERT_FALSE(change.empty()) << c.name;
        EXPECT_EQ(change.name, c.name);
        const std::vector<TranscribedNote> after = l.plain();
        EXPECT_NE(after, start) << c.name;
        l.apply(change, true);
        EXPECT_EQ(l.plain(), start) << c.name;
        l.apply(change, false);
        EXPECT_EQ(l.plain(), after) << c.name;
    }
}

TEST(NoteList, EditsDoWhatTheySayAndStopAtTheLimits) {
    NoteList l;
    l.reset(three());
    // Move: time and keys; the selection stays on the moved note.
    l.selectOnly(idOf(l, 64));
    l.move(0.5, 12);
    EXPECT_EQ(l.selectedCount(), 1u);
    const EditNote& moved = l.notes()[size_t(l.indexOf(idOf(l, 76)))];
    EXPECT_DOUBLE_EQ(moved.onset, 2.5);
    EXPECT_DOUBLE_EQ(moved.offset, 2.75);
    EXPECT_TRUE(moved.selected);
    // Not below time 0, not past the keyboard: the whole selection keeps its shape.
    l.selectAll();
    l.move(-10, 100);
    EXPECT_DOUBLE_EQ(l.notes().front().onset, 0.0);
    int top = 0;
    for (const EditNote& n : l.notes()) top = std::max(top, n.pitch);
    EXPECT_EQ(top, kHighestEditKey);
    EXPECT_TRUE(l.move(0, 1).empty());  // already at the top: nothing changes, no step

    // Length: the other selected notes change by the same amount, never below the shortest.
    l.reset(three());
    l.selectAll();
    l.resize(idOf(l, 60), 1.75);
    EXPECT_DOUBLE_EQ(l.notes()[0].offset, 1.75);
    EXPECT_DOUBLE_EQ(l.notes()[1].offset, 2.5);
    l.resize(idOf(l, 60), 0.0);
    for (const EditNote& n : l.notes()) EXPECT_GE(n.offset - n.onset, kShortestEditNote - 1e-12);

    // Add: snapped start, selected alone; velocity clamped.
    l.reset(three());
    l.selectAll();
    const SnapGrid beats = GridFromBeats({0.0, 0.5, 1.0}, 2, 3.0);  // every 0.25 s up to 3 s
    l.add(40, 1.13, 0.3, 300, beats);
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l.selectedCount(), 1u);
    const EditNote& added = l.notes()[size_t(l.indexOf(idOf(l, 40)))];
    EXPECT_DOUBLE_EQ(added.onset, 1.25);
    EXPECT_DOUBLE_EQ(added.offset, 1.55);
    EXPECT_EQ(added.velocity, 127);

    // Hit testing and the rubber band.
    EXPECT_EQ(l.notes()[size_t(l.noteAt(3.5, 67))].pitch, 67);
    EXPECT_EQ(l.noteAt(3.5, 66), -1);
    EXPECT_EQ(l.noteAt(1.5, 60), -1);  // the end belongs to no note
    l.selectIn(0.9, 2.1, 59, 64, false);
    EXPECT_EQ(l.selectedCount(), 2u);  // 60 and 64; 40 lies below
    l.selectIn(3.2, 3.3, 67, 67, true);
    EXPECT_EQ(l.selectedCount(), 3u);
}

TEST(NoteList, SnapMovesTheFirstOnsetToTheGridAndQuantiseKeepsAStep) {
    const SnapGrid grid = GridFromBeats({0.0, 0.6, 1.2}, 1, 3.0);
    ASSERT_GE(grid.size(), 6u);  // 0, 0.6, 1.2, then on at 0.6 up to past 3.0
    EXPECT_NEAR(grid[3], 1.8, 1e-12);
    EXPECT_GE(grid.back(), 3.0);
    EXPECT_DOUBLE_EQ(SnapTime(grid, 0.29), 0.0);
    EXPECT_DOUBLE_EQ(SnapTime(grid, 0.31), 0.6);
    EXPECT_DOUBLE_EQ(SnapTime(grid, 99.0), grid.back());
    EXPECT_DOUBLE_EQ(SnapTime({}, 0.31), 0.31);

    NoteList l;
    l.reset({{60, 0.1, 0.3, 80}, {62, 0.35, 0.4, 80}});
    l.selectAll();
    // The first onset lands on the grid; the second keeps its distance.
    l.move(1.0, 0, grid);
    EXPECT_DOUBLE_EQ(l.notes()[0].onset, 1.2);
    EXPECT_NEAR(l.notes()[1].onset, 1.45, 1e-12);
    // Quantised: both ends on the grid, and a note shorter than a step keeps one step.
    l.quantise(grid);
    EXPECT_DOUBLE_EQ(l.notes()[0].onset, 1.2);
    EXPECT_DOUBLE_EQ(l.notes()[0].offset, 1.8);
    EXPECT_DOUBLE_EQ(l.notes()[1].onset, 1.2);
    EXPECT_DOUBLE_EQ(l.notes()[1].offset, 1.8);
    EXPECT_TRUE(l.quantise({}).empty());
}

TEST(NoteList, AChangeFromBeforeANewAnalysisIsToldApartByTheGeneration) {
    NoteList l;
    l.reset(three());
    const uint64_t g = l.generation();
    l.selectAll();
    EXPECT_FALSE(l.removeSelected().empty());
    EXPECT_EQ(l.generation(), g);  // edits keep it
    l.reset(three());
    EXPECT_NE(l.generation(), g);
}
