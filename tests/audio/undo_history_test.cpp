// The undo history on its own: every kind of change restored byte for byte
// with its format and selection, redo, steps that changed nothing, and the
// memory bound.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "audio/DocumentInfo.h"
#include "audio/EditOps.h"
#include "audio/Effects.h"
#include "audio/SampleFormat.h"
#include "audio/UndoHistory.h"
#include "audio/DocBuilder.h"

using namespace notavox;
using notavox::testing::Make16;
using notavox::testing::Make8;

namespace {

struct Snapshot {
    std::vector<uint8_t> bytes;
    int32_t selectionStart, selectionEnd, sampleRate;
    bool stereo, sixteenBit;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snap(const AudioDocument& d) {
    Snapshot s{{}, d.selectionStart, d.selectionEnd, d.sampleRate, d.stereo, d.sixteenBit};
    if (d.sampleData) s.bytes.assign(d.sampleData.get(), d.sampleData.get() + d.byteCount);
    return s;
}

std::vector<int> ramp(int n, int scale) {
    std::vector<int> v;
    for (int i = 0; i < n; ++i) v.push_back((i * scale) % 20000 - 10000);
    return v;
}

// Runs `command` as one step, then checks undo, redo and undo again.
template <class Command>
void roundTrip(AudioDocument& doc, const ChangePlan& plan, Command command, size_t maxCopy) {
    UndoHistory h(size_t(1) << 30);
    const Snapshot before = snap(doc);
    h.begin("Schritt", doc, plan);
    command(doc);
    ASSERT_TRUE(h.commit(doc));
    const Snapshot after = snap(doc);
    ASSERT_NE(before, after);
    EXPECT_LE(h.memoryUsed(), maxCopy) << "only the changed part is kept";
    EXPECT_EQ(h.undoName(), "Schritt");
    ASSERT_TRUE(h.undo(doc));
    EXPECT_EQ(snap(doc), before);
    EXPECT_FALSE(h.canUndo());
    EXPECT_EQ(h.redoName(), "Schritt");
    ASSERT_TRUE(h.redo(doc));
    EXPECT_EQ(snap(doc), after);
    ASSERT_TRUE(h.undo(doc));
    EXPECT_EQ(snap(doc), before);
}

}  // namespace

TEST(UndoHistory, EveryKindOfChangeIsRestoredExactly) {
    {   // an effect on a selection keeps only the selected frames
        AudioDocument doc = Make16(ramp(4000, 37), true, 8000);
        doc.selectionStart = 2001;
        doc.selectionEnd = 1000;
        roundTrip(doc, PlanForEffect(doc), [](AudioDocument& d) { Louder10(d); }, 1001 * 2 + 4);
    }
    {   // an effect on the whole recording, 8-bit mono
        AudioDocument doc = Make8(std::vector<int>(999, 77), false, 8000);
        roundTrip(doc, PlanForEffect(doc), [](AudioDocument& d) { Reverse(d), Quieter10(d); }, 999);
    }
    {   // cut keeps the cut part only
        AudioDocument doc = Make16(ramp(3000, 11), false, 8000);
        doc.selectionStart = 500;
        doc.selectionEnd = 1700;
        roundTrip(doc, PlanForCut(doc), [](AudioDocument& d) { CutSelection(d); }, 1200 * 2);
    }
    {   // crop keeps what was cropped away
        AudioDocument doc = Make8(std::vector<int>(5000, 3), true, 8000);
        for (int i = 0; i < 5000; ++i) doc.sampleData[i] = uint8_t(i * 7);
        doc.selectionStart = 4001;
        doc.selectionEnd = 1001;
        roundTrip(doc, PlanForCrop(doc), [](AudioDocument& d) { CropToSelection(d); }, 2000);
    }
    {   // a new format: everything
        AudioDocument doc = Make16(ramp(2000, 5), true, 22050);
        doc.selectionStart = 10;
        doc.selectionEnd = 20;
        roundTrip(doc, PlanForWhole(),
                  [](AudioDocument& d) { ConvertSampleFormat(d, SampleFormatTarget{false, false, 11025}); }, 4000);
    }
    {   // the rate only: no bytes at all
        AudioDocument doc = Make8(std::vector<int>(100, 1), false, 10000);
        roundTrip(doc, PlanForFormatOnly(), [](AudioDocument& d) { Faster10(d); }, 0);
    }
}

TEST(UndoHistory, StepsThatChangeNothingAreNotKept) {
    UndoHistory h(1 << 20);
    AudioDocument doc = Make8(std::vector<int>(100, 128), false, 8000);
    h.begin("Lauter 10%", doc, PlanForEffect(doc));
    Louder10(doc);  // silence stays silence
    EXPECT_FALSE(h.commit(doc));
    h.begin("Die Auswahl wegschneiden", doc, PlanForCut(doc));
    EXPECT_FALSE(CutSelection(doc));  // nothing selected
    EXPECT_FALSE(h.commit(doc));
    EXPECT_FALSE(h.canUndo());
    EXPECT_EQ(h.memoryUsed(), 0u);
}

TEST(UndoHistory, ANewStepDropsTheRedoStepsAndUndoNeedsAStep) {
    UndoHistory h(1 << 20);
    AudioDocument doc = Make16(ramp(100, 3), false, 8000);
    EXPECT_FALSE(h.undo(doc));
    EXPECT_FALSE(h.redo(doc));
    h.begin("Rückwärts", doc, PlanForEffect(doc));
    Reverse(doc);
    h.commit(doc);
    h.undo(doc);
    EXPECT_TRUE(h.canRedo());
    h.begin("Lauter 10%", doc, PlanForEffect(doc));
    Louder10(doc);
    h.commit(doc);
    EXPECT_FALSE(h.canRedo());
    EXPECT_EQ(h.undoCount(), 1u);
    EXPECT_EQ(h.memoryUsed(), 200u);
}

TEST(UndoHistory, MemoryStaysWithinTheLimitAndEditsGoOnBeyondIt) {
    UndoHistory h(2500);
    AudioDocument doc = Make8(std::vector<int>(1000, 100), false, 8000);
    for (int k = 0; k < 5; ++k) {
        h.begin("Lauter " + std::to_string(k), doc, PlanForEffect(doc));
        Louder10(doc);
        ASSERT_TRUE(h.commit(doc));
        EXPECT_LE(h.memoryUsed(), 2500u);
    }
    // The oldest steps went first.
    EXPECT_EQ(h.undoCount(), 2u);
    EXPECT_EQ(h.undoName(), "Lauter 4");
    const std::vector<uint8_t> expected = snap(doc).bytes;

    // A step larger than the whole limit: the edit still runs, the history
    // that no longer fits the recording is gone.
    h.setLimit(500);
    EXPECT_EQ(h.undoCount(), 0u);
    h.begin("Lauter 10%", doc, PlanForEffect(doc));
    Louder10(doc);
    EXPECT_FALSE(h.commit(doc));
    EXPECT_NE(snap(doc).bytes, expected);
    EXPECT_FALSE(h.canUndo());
    EXPECT_EQ(h.memoryUsed(), 0u);
    EXPECT_GT(DefaultUndoLimit(), size_t(0));
}

TEST(DocumentInfo, TextsOfFormatLengthAndSelection) {
    EXPECT_EQ(TimeText(0), "0:00.000");
    EXPECT_EQ(TimeText(61001), "1:01.001");
    EXPECT_EQ(TimeText(3723456), "62:03.456");
    AudioDocument doc;
    EXPECT_EQ(RecordingText(doc), "");
    EXPECT_EQ(SelectionText(doc), "");
    doc = Make16(std::vector<int>(2 * 44100 * 3 + 2 * 4410, 0), true, 44100);
    EXPECT_EQ(FormatText(doc), "44100 Hz, 16 Bit, Stereo");
    EXPECT_EQ(RecordingText(doc), "44100 Hz, 16 Bit, Stereo \u2013 0:03.100");
    EXPECT_EQ(SelectionText(doc), "Keine Auswahl");
    doc.selectionStart = 2 * 66150;  // 1.5 s
    doc.selectionEnd = 2 * 441;      // 0.01 s
    EXPECT_EQ(SelectionText(doc), "Auswahl 0:00.010\u20130:01.500 (0:01.490)");
    doc = Make8(std::vector<int>(8000, 0), false, 8000);
    EXPECT_EQ(RecordingText(doc), "8000 Hz, 8 Bit, Mono \u2013 0:01.000");
}

TEST(UndoHistory, StateNamesTheRecordingAcrossUndoTrimmingAndUntrackedChanges) {
    UndoHistory h(2500);
    AudioDocument doc = Make8(std::vector<int>(1000, 100), false, 8000);
    const auto louder = [&] {
        h.begin("Lauter 10%", doc, PlanForEffect(doc));
        Louder10(doc);
        h.commit(doc);
    };
    const uint64_t opened = h.state();
    louder();
    const uint64_t once = h.state();
    EXPECT_NE(once, opened);
    h.undo(doc);
    EXPECT_EQ(h.state(), opened);
    h.redo(doc);
    EXPECT_EQ(h.state(), once);
    // Another change after an undo is a new state, not the one undone.
    h.undo(doc);
    h.begin("Leiser 10%", doc, PlanForEffect(doc));
    Quieter10(doc);
    h.commit(doc);
    EXPECT_NE(h.state(), once);
    EXPECT_NE(h.state(), opened);

    // The oldest steps dropped for memory: undoing all that is left ends at
    // the state after them.
    for (int k = 0; k < 4; ++k) louder();
    const uint64_t kept = h.state();
    while (h.canUndo()) h.undo(doc);
    EXPECT_NE(h.state(), opened);
    while (h.canRedo()) h.redo(doc);
    EXPECT_EQ(h.state(), kept);

    // A change the history could not keep: a state never seen before.
    h.setLimit(500);
    louder();
    EXPECT_NE(h.state(), kept);
    EXPECT_NE(h.state(), opened);
}
