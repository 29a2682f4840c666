#include "view/WaveView.h"

#include <QMouseEvent>
#include <QResizeEvent>
#include <QWheelEvent>
#include <QPainter>
#include <QtMath>
#include <QScrollBar>
#include <QSpinBox>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "view/WaveGeometry.h"

namespace notavox {

namespace {

const QColor kBackgroundColor(96, 0, 0);
const QColor kSelectionColor(128, 128, 255);
const QColor kTraceColor(0, 255, 0);
const QColor kMarkerColor(0, 255, 255);

}  // namespace

TWaveView::TWaveView(AudioDocument& document, QSpinBox* zoomEdit, QScrollBar* scrollBar, QWidget* parent)
    : QWidget(parent), document_(document), zoomEdit_(zoomEdit), scrollBar_(scrollBar) {
    setObjectName("PaintBox1");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

void TWaveView::createBitmap() { bitmap_ = QImage(1, 1, QImage::Format_RGB32); }

void TWaveView::freeBitmap() { bitmap_ = QImage(); }

int32_t TWaveView::zoom() const { return EffectiveZoom(zoomEdit_->value()); }

void TWaveView::setZoom(double value) { zoomEdit_->setValue(ZoomValueFor(value)); }

int32_t TWaveView::position() const { return scrollBar_->value(); }

void TWaveView::showCursor(int64_t column) {
    cursorColumn_ = static_cast<int32_t>(std::clamp<int64_t>(column, -1, width()));
    repaint();
    emit cursorMoved();
}

void TWaveView::render() {
    const int w = width();
    const int h = height();
    if (w <= 0 || h <= 0) return;
    // The bitmap has the screen's own pixels, so that on a screen that scales
    // the desktop the trace is drawn as finely as the screen shows it; the
    // picture is computed in the widget's columns as everywhere else.
    const qreal ratio = std::max<qreal>(1, devicePixelRatioF());
    const QSize pixels(qCeil(w * ratio), qCeil(h * ratio));
    if (bitmap_.size() != pixels || bitmap_.devicePixelRatio() != ratio) {
        bitmap_ = QImage(pixels, QImage::Format_RGB32);
        bitmap_.setDevicePixelRatio(ratio);
    }

    WaveViewPicture pic;
    if (zoom() > 1) summary_.update(document_);
    ComputeWaveView(document_, zoom(), position(), w, h, pic, &summary_);

    QPainter g(&bitmap_);
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
    if (!pic.spans.empty()) {
        if (ratio > 1) {
            // One column of the picture is several columns of the screen:
            // each span fills all of them.
            for (const TraceSpan& s : pic.spans)
                g.fillRect(QRectF(s.x, std::min(s.yLow, s.yHigh), 1, std::abs(s.yHigh - s.yLow) + 1), kTraceColor);
        } else {
            std::vector<QLine> lines;
            lines.reserve(pic.spans.size());
            for (const TraceSpan& s : pic.spans) lines.emplace_back(s.x, s.yLow, s.x, s.yHigh);
            g.setPen(QPen(kTraceColor, 0));
            g.drawLines(lines.data(), int(lines.size()));
        }
    }
    g.setPen(QPen(kMarkerColor, 0));
    g.drawLine(pic.markerColumn, 0, pic.markerColumn, h - 1);
}

void TWaveView::refresh() {
    render();
    update();
}

void TWaveView::paintEvent(QPaintEvent*) {
    QPainter screen(this);
    render();
    screen.drawImage(0, 0, bitmap_);
    if (cursorColumn_ >= 0) {
        // A white XOR line over the full height, so that drawing it twice
        // leaves the picture as it was.
        screen.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        screen.setPen(QPen(Qt::white, 0));
        screen.drawLine(cursorColumn_, 0, cursorColumn_, height() - 1);
        screen.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
}

int32_t TWaveView::mouseIndex(int x) const {
    return MouseSampleIndex(zoom(), position(), x, document_.sampleCount());
}

void TWaveView::mouseDown(int x) {
    const int32_t i = mouseIndex(x);
    document_.selectionStart = i;
    document_.selectionEnd = i;
    refresh();
    emit selectionMoved();
}

void TWaveView::mouseMove(Qt::MouseButtons buttons, int x) {
    if (!(buttons & Qt::LeftButton)) return;
    document_.selectionEnd = mouseIndex(x);
    refresh();
    emit selectionMoved();
}

void TWaveView::mouseUp(int x) {
    document_.selectionEnd = mouseIndex(x);
    refresh();
    emit selectionMoved();
}

void TWaveView::mousePressEvent(QMouseEvent* e) { mouseDown(e->position().toPoint().x()); }

void TWaveView::mouseMoveEvent(QMouseEvent* e) { mouseMove(e->buttons(), e->position().toPoint().x()); }

void TWaveView::mouseReleaseEvent(QMouseEvent* e) { mouseUp(e->position().toPoint().x()); }

void TWaveView::zoomChanged() {
    const int32_t newMax = ScrollMaximum(document_.sampleCount(), width(), zoom());
    const int32_t oldPosition = scrollBar_->value();
    const int32_t oldMax = scrollBar_->maximum();
    scrollBar_->setMaximum(newMax);
    scrollBar_->setValue(RescaledPosition(oldPosition, oldMax, newMax));
    refresh();
}

void TWaveView::zoomOutFull() { setZoom(ZoomOutFullValue(document_.sampleCount(), width())); }

void TWaveView::zoomInFull() { setZoom(1); }

void TWaveView::zoomToSelection() {
    setZoom(ZoomSelValue(document_.selectionStart, document_.selectionEnd, width()));
    scrollBar_->setValue(ZoomSelPosition(document_.selectionStart, document_.selectionEnd, zoom()));
}

void TWaveView::zoomSmaller() { zoomAround(ZoomKleinerValue(zoom()), width() / 2); }

void TWaveView::zoomLarger() { zoomAround(ZoomGroesserValue(zoom()), width() / 2); }


void TWaveView::zoomAround(int32_t newZoom, int x) {
    const bool sameRun = zoomAnchor_.sample >= 0 && zoomAnchor_.x == x && zoomAnchor_.zoom == zoom() &&
                         zoomAnchor_.position == position() && zoomAnchor_.revision == document_.revision;
    const int64_t anchor = sameRun ? zoomAnchor_.sample : ColumnSampleIndex(zoom(), position(), x);
    setZoom(newZoom);
    const int64_t p = anchor / zoom() - x;
    scrollBar_->setValue(int32_t(std::clamp<int64_t>(p, 0, scrollBar_->maximum())));
    zoomAnchor_ = ZoomAnchor{anchor, x, zoom(), position(), document_.revision};
}

void TWaveView::scrollBy(int64_t columns) {
    const int64_t p = int64_t(scrollBar_->value()) + columns;
    scrollBar_->setValue(int32_t(std::clamp<int64_t>(p, scrollBar_->minimum(), scrollBar_->maximum())));
}

void TWaveView::goToStart() { scrollBar_->setValue(scrollBar_->minimum()); }

void TWaveView::goToEnd() { scrollBar_->setValue(scrollBar_->maximum()); }

int64_t TWaveView::follow(int64_t column) {
    // A view nobody sees has no visible part to keep the cursor in.
    if (!isVisible() || (column >= 0 && column < width())) return column;
    const int32_t before = position();
    scrollBy(column);
    return column - (int64_t(position()) - before);
}

bool TWaveView::showsWhole(int w) const {
    return !document_.empty() && position() == 0 && zoom() == ZoomOutFullValue(document_.sampleCount(), w);
}

void TWaveView::wheelEvent(QWheelEvent* e) {
    const QPoint angle = e->angleDelta();
    const bool vertical = std::abs(angle.y()) >= std::abs(angle.x());
    wheelRest_ += vertical ? angle.y() : angle.x();
    const int steps = wheelRest_ / 120;  // one step per notch of 15 degrees
    wheelRest_ -= steps * 120;
    e->accept();
    if (steps == 0) return;
    if (e->modifiers() & Qt::ControlModifier) {
        // Turning away from the user zooms in, around the pointer.
        int32_t z = zoom();
        for (int k = 0; k < std::abs(steps); ++k) z = steps > 0 ? ZoomGroesserValue(z) : ZoomKleinerValue(z);
        zoomAround(z, int(e->position().x()));
        return;
    }
    // Turning away from the user goes toward the start; a tenth of the view
    // per notch.
    scrollBy(-int64_t(steps) * std::max(1, width() / 10));
}

void TWaveView::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    // A view that showed the whole recording shows it again at the new size.
    if (e->oldSize().width() > 0 && e->size().width() != e->oldSize().width() && showsWhole(e->oldSize().width())) {
        zoomOutFull();
        zoomChanged();
    }
}

}  // namespace notavox
