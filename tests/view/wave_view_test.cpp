// The waveform view in the real main window: selections made with mouse
// events on PaintBox1, pixels checked on the bitmap.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <cstring>

#include "app/MainUnit.h"
#include "app/EchoFUnit.h"
#include "support/FakePrompts.h"
#include "support/FormFixture.h"
#include "support/ShownForm.h"
#include "support/FakeSoundDevice.h"

using namespace notavox;
using notavox::testing::FakePrompts;

namespace {

using Form = notavox::testing::ShownForm;

const QColor kBackground(96, 0, 0), kBand(128, 128, 255), kTrace(0, 255, 0), kMarker(0, 255, 255);

}  // namespace

TEST(WaveViewControls, RowsLeftEdgesWidthsAndRanges) {
    Form f;
    TMainForm& m = f.m();
    struct G { QWidget* w; int left, top, width; };
    for (const G& g : {G{m.ZoomKleinerBtn, 8, 8, 97}, G{m.ZoomGroesserBtn, 112, 8, 97},
                       G{m.ZoomOutFull, 240, 8, 97}, G{m.ZoomInFull, 344, 8, 97}, G{m.ZoomSel, 448, 8, 137},
                       G{m.ZoomOutEd, 88, 40, 97}, G{m.PlayBtn, 240, 40, 75}, G{m.StopBTN, 320, 40, 75},
                       G{m.CropToSelection, 8, 72, 201}, G{m.CutSelectionBtn, 216, 72, 201},
                       G{m.ChangeFormat, 424, 72, 153}}) {
        EXPECT_EQ(g.w->x(), g.left) << g.w->objectName().toStdString();
        EXPECT_EQ(g.w->y(), g.top) << g.w->objectName().toStdString();
        EXPECT_EQ(g.w->width(), g.width) << g.w->objectName().toStdString();
    }
    EXPECT_EQ(m.SchleifeCheck->x(), 400);
    EXPECT_EQ(m.Label1->x(), 8);
    EXPECT_EQ(m.Panel1->height(), 105);
    EXPECT_EQ(m.RxSlider1->height(), 17);
    EXPECT_EQ(m.ZoomOutEd->minimum(), 1);
    EXPECT_EQ(m.ZoomOutEd->maximum(), 1000000);
    EXPECT_EQ(m.ZoomOutEd->singleStep(), 10);
    EXPECT_EQ(m.ZoomOutEd->value(), 100);
    EXPECT_EQ(m.RxSlider1->minimum(), 0);
    EXPECT_EQ(m.RxSlider1->maximum(), 100);
    EXPECT_EQ(m.RxSlider1->singleStep(), 10);
    EXPECT_EQ(m.RxSlider1->pageStep(), 100);
    EXPECT_EQ(m.PaintBox1->cursorColumn(), -1);
}

TEST(WaveViewPaint, Mono8TraceBandAndMarkerPixels) {
    Form f;
    TMainForm& m = f.m();
    const int w = m.PaintBox1->width(), h = m.PaintBox1->height();
    ASSERT_GT(w, 200);
    ASSERT_GT(h, 100);
    // 255 in the first 100 values, 128 after them.
    std::vector<int> v(size_t(w) * 4, 128);
    for (int i = 0; i < 100; ++i) v[size_t(i)] = 255;
    f.load8(v, false);
    m.ZoomInFull->click();
    ASSERT_EQ(m.ZoomOutEd->value(), 1);
    ASSERT_EQ(m.PaintBox1->bitmap().size(), QSize(w, h));
    EXPECT_EQ(f.pixel(50, h - 1), kTrace) << "8-bit 255 lies on the bottom row";
    EXPECT_EQ(f.pixel(150, 128 * (h - 1) / 255), kTrace) << "128 lies on the middle line";
    EXPECT_EQ(f.pixel(150, 5), kBackground);
    EXPECT_EQ(f.pixel(0, 5), kMarker) << "anchor at index 0 without a selection";

    f.drag(120, 160);
    EXPECT_EQ(m.document.selectionStart, 120);
    EXPECT_EQ(m.document.selectionEnd, 160);
    EXPECT_EQ(f.pixel(140, 5), kBand);
    EXPECT_EQ(f.pixel(159, 5), kBand);
    EXPECT_EQ(f.pixel(160, 5), kBackground) << "the band stops before the larger end's column";
    EXPECT_EQ(f.pixel(120, 5), kMarker);
    EXPECT_EQ(f.pixel(140, 128 * (h - 1) / 255), kTrace) << "the trace is drawn over the band";

    // Zoom 10: both ends inside one column give no band, only the marker.
    m.ZoomOutEd->setValue(10);
    f.drag(30, 30);
    m.document.selectionEnd = m.document.selectionStart + 5;
    m.PaintBox1Paint();
    EXPECT_EQ(f.pixel(31, 5), kBackground);
    EXPECT_EQ(f.pixel(30, 5), kMarker);
}

TEST(WaveViewPaint, Stereo16ZigzagAndUndrawnColumnsPastTheEnd) {
    Form f;
    TMainForm& m = f.m();
    const int h = m.PaintBox1->height();
    std::vector<int> v;
    for (int k = 0; k < 20; ++k) v.insert(v.end(), {32767, 0});
    f.load16(v, true);
    EXPECT_EQ(m.ZoomOutEd->value(), 1) << "fewer sample indices than columns";
    EXPECT_EQ(m.RxSlider1->maximum(), 1);
    EXPECT_EQ(f.pixel(2, 32767 * (h - 1) / 65536 + h / 2), kTrace);
    EXPECT_EQ(f.pixel(3, h / 2), kTrace);
    EXPECT_EQ(f.pixel(4, 32767 * (h - 1) / 65536 + h / 2), kTrace);
    for (int y = 0; y < h; ++y) ASSERT_EQ(f.pixel(100, y), kBackground) << y;
}

TEST(WaveViewPaint, PlaybackCursorIsAnXorLineOverTheCopy) {
    Form f;
    TMainForm& m = f.m();
    f.load8(std::vector<int>(1000, 128), false);
    m.PaintBox1->showCursor(300);
    const QImage shown = m.PaintBox1->grab().toImage();
    EXPECT_EQ(shown.pixelColor(300, 3), QColor(96 ^ 255, 255, 255));
    EXPECT_EQ(shown.pixelColor(301, 3), kBackground);
    EXPECT_EQ(m.PaintBox1->bitmap().pixelColor(300, 3), kBackground) << "the bitmap itself stays clean";
}

TEST(WaveViewZoom, CommandsClampRoundAndRescaleTheScrollBar) {
    Form f;
    TMainForm& m = f.m();
    const int w = m.PaintBox1->width();
    f.load8(std::vector<int>(size_t(w) * 1000, 128), false);
    EXPECT_EQ(m.ZoomOutEd->value(), 1000) << "Ganze Datei";
    m.ZoomInFull->click();
    EXPECT_EQ(m.RxSlider1->maximum(), (w * 1000 - w) / 1);
    m.RxSlider1->setValue(m.RxSlider1->maximum() / 2);
    m.ZoomOutEd->setValue(100);
    EXPECT_EQ(m.RxSlider1->maximum(), (w * 1000 - w * 100) / 100);
    EXPECT_EQ(m.RxSlider1->value(), int64_t((w * 1000 - w) / 2) * m.RxSlider1->maximum() / (w * 1000 - w));
    m.ZoomKleinerBtn->click();
    EXPECT_EQ(m.ZoomOutEd->value(), 150);
    m.ZoomKleinerBtn->click();
    m.ZoomKleinerBtn->click();
    EXPECT_EQ(m.ZoomOutEd->value(), 338);
    m.ZoomOutEd->setValue(100);
    m.ZoomGroesserBtn->click();
    EXPECT_EQ(m.ZoomOutEd->value(), 67);
    m.ZoomOutEd->setValue(1);
    m.Grer1->trigger();
    EXPECT_EQ(m.ZoomOutEd->value(), 1);
    m.ZoomOutEd->setValue(999999);
    m.Kleiner1->trigger();
    EXPECT_EQ(m.ZoomOutEd->value(), 1000000);

    // Zoom auf Auswahl: the selection fills the width, its start at the left.
    m.document.selectionStart = 40 * w;
    m.document.selectionEnd = 10 * w;
    m.ZoomSel->click();
    EXPECT_EQ(m.ZoomOutEd->value(), 30);
    EXPECT_EQ(m.RxSlider1->value(), 10 * w / 30);

    // Opening the "Effekte" menu leaves the view where it is.
    m.RxSlider1->setValue(25);
    emit m.Effekte1->aboutToShow();
    EXPECT_EQ(m.RxSlider1->value(), 25);
    m.Effekte1->popup(QPoint(0, 0));
    m.Effekte1->hide();
    EXPECT_EQ(m.RxSlider1->value(), 25);
}

TEST(WaveViewMouse, MappingFollowsZoomAndScrollAndClampsToTheData) {
    Form f;
    TMainForm& m = f.m();
    f.load8(std::vector<int>(100000, 128), false);
    m.ZoomOutEd->setValue(10);
    m.RxSlider1->setValue(20);
    f.drag(30, 5);
    EXPECT_EQ(m.document.selectionStart, 500);
    EXPECT_EQ(m.document.selectionEnd, 250);
    f.drag(10, -100);
    EXPECT_EQ(m.document.selectionEnd, 0) << "left of the paint box down to index 0";
    m.ZoomOutEd->setValue(1000);  // one screen: the scroll range is 1 and p goes to 0
    ASSERT_EQ(m.RxSlider1->value(), 0);
    f.drag(10, m.PaintBox1->width() - 1);
    EXPECT_EQ(m.document.selectionStart, 10000);
    EXPECT_EQ(m.document.selectionEnd, 99999) << "past the end stays at N - 1";
    // A move without the left button changes nothing.
    QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), m.PaintBox1->mapToGlobal(QPointF(3, 3)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(m.PaintBox1, &move);
    EXPECT_EQ(m.document.selectionEnd, 99999);
    // A click without dragging leaves no selection.
    QTest::mouseClick(m.PaintBox1, Qt::LeftButton, Qt::NoModifier, QPoint(7, 7));
    EXPECT_EQ(m.document.selectionStart, 7000);
    EXPECT_EQ(m.document.selectionEnd, 7000);
}
