// The waveform view: repaint, zoom, scrolling and the mouse selection. The
// arithmetic lives in view/WaveGeometry; here the controls are read and the
// picture is drawn onto the off-screen bitmap, which the paint event copies
// onto the paint box in one operation.
#include <QPainter>
#include <QScrollBar>
#include <QSpinBox>
#include <algorithm>

#include "app/MainUnit.h"
#include "view/WaveGeometry.h"

namespace notavox {

namespace {

const QColor kBackgroundColor(96, 0, 0);
const QColor kSelectionColor(128, 128, 255);
const QColor kTraceColor(0, 255, 0);
const QColor kMarkerColor(0, 255, 255);

}  // namespace

int32_t TMainForm::ViewZoom() const { return EffectiveZoom(ZoomOutEd->value()); }

void TMainForm::SetViewZoom(double value) { ZoomOutEd->setValue(ZoomValueFor(value)); }

void TMainForm::CreateViewBitmap() { ViewBitmap = QImage(1, 1, QImage::Format_RGB32); }

void TMainForm::FreeViewBitmap() { ViewBitmap = QImage(); }

void TMainForm::RenderViewBitmap() {
    const int w = PaintBox1->width();
    const int h = PaintBox1->height();
    if (w <= 0 || h <= 0) return;
    if (ViewBitmap.size() != QSize(w, h)) ViewBitmap = QImage(w, h, QImage::Format_RGB32);

    WaveViewPicture pic;
    ComputeWaveView(document, ViewZoom(), RxSlider1->value(), w, h, pic);

    QPainter g(&ViewBitmap);
    g.setRenderHint(QPainter::Antialiasing, false);
    g.fillRect(QRect(0, 0, w, h), kBackgroundColor);
    if (pic.band) {
        // The band covers the columns from the smaller end up to, not
        // including, the larger one; parts outside the bitmap are clipped.
        const int from = std::max(std::min(pic.bandFrom, pic.bandTo), 0);
        const int to = std::min(std::max(pic.bandFrom, pic.bandTo), w);
        if (to > from) g.fillRect(QRect(from, 0, to - from, h), kSelectionColor);
    }
    if (!pic.trace.empty()) {
        std::vector<QPoint> points;
        points.reserve(pic.trace.size() + 1);
        points.emplace_back(0, kTraceStartY);
        for (const TracePoint& t : pic.trace) points.emplace_back(t.x, t.y);
        g.setPen(QPen(kTraceColor, 0));
        g.drawPolyline(points.data(), int(points.size()));
    }
    g.setPen(QPen(kMarkerColor, 0));
    g.drawLine(pic.markerColumn, 0, pic.markerColumn, h - 1);
}

void TMainForm::PaintBox1Paint() {
    RenderViewBitmap();
    PaintBox1->update();
}

void TMainForm::PaintBox1OnPaintEvent(QPainter& screen) {
    RenderViewBitmap();
    screen.drawImage(0, 0, ViewBitmap);
    if (playCursorColumn >= 0) {
        // The playback cursor: a white XOR line over the full height, so
        // that drawing it twice leaves the picture as it was.
        screen.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        screen.setPen(QPen(Qt::white, 0));
        screen.drawLine(playCursorColumn, 0, playCursorColumn, PaintBox1->height() - 1);
        screen.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
}

void TMainForm::PaintBox1MouseDown(Qt::MouseButton, Qt::MouseButtons, int x, int) {
    const int32_t i = MouseSampleIndex(ViewZoom(), RxSlider1->value(), x, document.sampleCount());
    document.selectionStart = i;
    document.selectionEnd = i;
    PaintBox1Paint();
}

void TMainForm::PaintBox1MouseMove(Qt::MouseButtons buttons, int x, int) {
    if (!(buttons & Qt::LeftButton)) return;
    document.selectionEnd = MouseSampleIndex(ViewZoom(), RxSlider1->value(), x, document.sampleCount());
    PaintBox1Paint();
}

void TMainForm::PaintBox1MouseUp(Qt::MouseButton, Qt::MouseButtons, int x, int) {
    document.selectionEnd = MouseSampleIndex(ViewZoom(), RxSlider1->value(), x, document.sampleCount());
    PaintBox1Paint();
}

void TMainForm::ZoomOutEdChange() {
    const int32_t newMax = ScrollMaximum(document.sampleCount(), PaintBox1->width(), ViewZoom());
    const int32_t oldPosition = RxSlider1->value();
    const int32_t oldMax = RxSlider1->maximum();
    RxSlider1->setMaximum(newMax);
    RxSlider1->setValue(RescaledPosition(oldPosition, oldMax, newMax));
    PaintBox1Paint();
}

void TMainForm::RxSlider1Change() { PaintBox1Paint(); }

void TMainForm::ZoomOutFullClick() { SetViewZoom(ZoomOutFullValue(document.sampleCount(), PaintBox1->width())); }

void TMainForm::ZoomInFullClick() { SetViewZoom(1); }

void TMainForm::ZoomSelClick() {
    SetViewZoom(ZoomSelValue(document.selectionStart, document.selectionEnd, PaintBox1->width()));
    RxSlider1->setValue(ZoomSelPosition(document.selectionStart, document.selectionEnd, ViewZoom()));
}

void TMainForm::ZoomKleinerBtnClick() { SetViewZoom(ZoomKleinerValue(ViewZoom())); }

void TMainForm::ZoomGroesserBtnClick() { SetViewZoom(ZoomGroesserValue(ViewZoom())); }

void TMainForm::BackBtnClick() { RxSlider1->setValue(RxSlider1->value() - kBackStep); }

}  // namespace notavox
