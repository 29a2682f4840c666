// The note view in the real main window: the notes on the waveform's columns
// for any zoom and scroll, the bar and beat lines, and when they are dropped.
#include <gtest/gtest.h>

#include <QAction>
#include <QScrollBar>
#include <QSpinBox>

#include <algorithm>
#include <cstring>

#include "app/MainUnit.h"
#include "support/FormFixture.h"
#include "view/NoteView.h"

using namespace notavox;

namespace {

struct Form : notavox::testing::TestForm<> {
    // Silence, 16-bit mono.
    void loadSilence(int32_t rate, double seconds) {
        const int32_t frames = int32_t(rate * seconds);
        SampleBlock block = allocateBlock(size_t(frames) * 2);
        std::memset(block.get(), 0, size_t(frames) * 2);
        form->document.replace(std::move(block), frames * 2, rate, false, true);
    }
};

QRgb pixel(TNoteView& v, int x, int y) { return v.grab().toImage().pixel(x, y); }

}  // namespace

TEST(NoteView, DrawsTheNotesOnTheWaveformsColumnsForZoomAndScroll) {
    Form f;
    TMainForm& m = f.m();
    m.resize(900, 700);
    m.show();
    f.loadSilence(8000, 30.0);  // 240000 samples
    m.ShowNotes({{60, 2.0, 3.0, 100}, {64, 10.0, 10.5, 20}, {67, 20.0, 22.0, 127}});
    TNoteView& v = *m.NoteView1;
    ASSERT_TRUE(v.isVisible());
    EXPECT_TRUE(m.Notenanzeigen1->isChecked());
    // The used range 60..67 is in view.
    EXPECT_GE(v.topKey(), 67);
    EXPECT_LE(v.topKey() - v.visibleRows() + 1, 60);

    struct Case {
        int zoom, scroll;
    };
    for (const Case c : {Case{100, 0}, Case{200, 0}, Case{50, 100}, Case{20, 700}}) {
        m.ZoomOutEd->setValue(c.zoom);
        m.RxSlider1->setMaximum(100000);
        m.RxSlider1->setValue(c.scroll);
        ASSERT_EQ(m.PaintBox1->zoom(), c.zoom);
        ASSERT_EQ(m.PaintBox1->position(), c.scroll);
        for (const TranscribedNote& n : v.notes()) {
            // The waveform's column of the note's first frame.
            const int64_t x0 = (int64_t(n.onset * 8000) - int64_t(c.zoom) * c.scroll) / c.zoom;
            const int64_t x1 = (int64_t(n.offset * 8000) - int64_t(c.zoom) * c.scroll) / c.zoom;
            EXPECT_EQ(v.columnOf(n.onset), x0);
            const int y = v.rowTop(n.pitch) + TNoteView::kRowHeight / 2;
            const int inside = int(std::max<int64_t>(x0, TNoteView::kKeyboardWidth + 2) + 2);
            if (inside < x1 - 1 && inside < v.width() - 20) {
                EXPECT_EQ(pixel(v, inside, y), TNoteView::velocityColour(n.velocity).rgb())
                    << "zoom " << c.zoom << " scroll " << c.scroll << " pitch " << n.pitch;
                // Nothing in the rows above and below at that column but the background.
                EXPECT_NE(pixel(v, inside, y - TNoteView::kRowHeight), TNoteView::velocityColour(n.velocity).rgb());
            }
            if (x0 - 3 > TNoteView::kKeyboardWidth + 1 && x0 - 3 < v.width() - 20) {
                EXPECT_NE(pixel(v, int(x0) - 3, y), TNoteView::velocityColour(n.velocity).rgb());
            }
        }
    }
    EXPECT_EQ(TNoteView::noteName(60), "C4");
    EXPECT_EQ(TNoteView::noteName(21), "A0");
    EXPECT_EQ(TNoteView::noteName(66), "F#4");

    // "Noten anzeigen" hides and shows the strip.
    m.Notenanzeigen1->trigger();
    EXPECT_FALSE(v.isVisible());
    m.Notenanzeigen1->trigger();
    EXPECT_TRUE(v.isVisible());

    // A change of the recording drops the notes.
    m.Lauter101->trigger();
    EXPECT_FALSE(v.hasNotes());
}

TEST(NoteView, DrawsBarLinesAlwaysAndBeatLinesWhileTheyStandApart) {
    Form f;
    TMainForm& m = f.m();
    m.resize(900, 700);
    m.show();
    f.loadSilence(8000, 30.0);
    m.ShowNotes({{100, 0.0, 0.1, 100}});  // far above the rows looked at
    TNoteView& v = *m.NoteView1;
    v.setTopKey(60);
    std::vector<BeatLine> beats;
    for (int i = 0; i < 40; ++i) beats.push_back({0.5 * i, i % 4 == 0});
    v.setBeats(beats);
    m.RxSlider1->setValue(0);
    const int y = v.rowTop(57) + 2;
    const auto column = [&](double s) { return int(v.columnOf(s)); };
    m.ZoomOutEd->setValue(100);  // a beat every 40 columns
    const QRgb bar = pixel(v, column(4.0), y), beat = pixel(v, column(4.5), y), between = pixel(v, column(4.25), y);
    EXPECT_NE(bar, between);
    EXPECT_NE(beat, between);
    EXPECT_NE(bar, beat);
    m.ZoomOutEd->setValue(1000);  // a beat every 4 columns: only the bars
    EXPECT_EQ(pixel(v, column(16.0), y), bar);
    EXPECT_EQ(pixel(v, column(16.5), y), between);
    // A changed recording drops the lines with the notes.
    m.document.touch();
    EXPECT_TRUE(v.beats().empty());
}

