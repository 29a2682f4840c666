// The waveform view: a widget that shows the recording and lets the user
// select a part of it with the mouse. It owns the off-screen bitmap that every
// repaint draws on, the zoom (read from and written to the window's zoom edit),
// the scroll position (the window's scroll bar), the playback cursor column
// and the mouse selection. The arithmetic is in view/WaveGeometry.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>

#include "audio/AudioDocument.h"
#include "view/WaveSummary.h"

class QScrollBar;
class QSpinBox;

namespace notavox {

class TWaveView : public QWidget {
    Q_OBJECT
public:
    // `zoomEdit` holds the zoom ("Verkleinerung"), `scrollBar` the position;
    // both belong to the window, which wires their signals to the view.
    TWaveView(AudioDocument& document, QSpinBox* zoomEdit, QScrollBar* scrollBar, QWidget* parent);

    // Off-screen bitmap; the paint event copies it onto the widget in one go.
    const QImage& bitmap() const { return bitmap_; }
    void createBitmap();  // a 1 x 1 bitmap, as made at start
    void freeBitmap();

    int32_t zoom() const;           // the zoom edit's value, at least 1
    void setZoom(double value);     // clamped, rounded half to even, through the edit
    int32_t position() const;       // the scroll bar's value

    // Column of the playback cursor, drawn as a white XOR line over the
    // bitmap's copy; -1: no cursor. Columns far outside the view are all
    // equally invisible, so the column is limited to -1..width.
    int32_t cursorColumn() const { return cursorColumn_; }
    void showCursor(int64_t column);  // moves the cursor and repaints at once
    void hideCursor() { cursorColumn_ = -1; }

    void render();   // draws the view onto the bitmap
    void refresh();  // render, then schedule the widget's repaint

    // The commands of the view.
    void zoomChanged();  // the zoom edit changed: new scroll range, repaint
    void zoomOutFull();  // "Ganze Datei"
    void zoomInFull();   // "Voller Zoom"
    void zoomToSelection();  // "Zoom auf Auswahl"
    void zoomSmaller();  // "Kleiner", keeping the sample in the middle where it is
    void zoomLarger();   // "Größer", the same

    // Sets the zoom so that the sample index under column x stays under it.
    void zoomAround(int32_t newZoom, int x);
    void scrollBy(int64_t columns);
    void goToStart();  // the view's left edge at the start of the recording
    void goToEnd();    // the last screen
    // During playback: when the cursor column has left the view, the view
    // moves on so that the cursor stands at its left edge. Returns the
    // cursor's column in the moved view.
    int64_t follow(int64_t column);
    // The zoom and position that "Ganze Datei" gives for a view `width` wide.
    bool showsWhole(int width) const;

signals:
    // The mouse moved a selection end.
    void selectionMoved();
    // showCursor moved the playback cursor (the view has repainted).
    void cursorMoved();

public:

    // The mouse selection, x in widget coordinates.
    void mouseDown(int x);
    void mouseMove(Qt::MouseButtons buttons, int x);
    void mouseUp(int x);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int32_t mouseIndex(int x) const;

    AudioDocument& document_;
    QSpinBox* zoomEdit_;
    QScrollBar* scrollBar_;
    QImage bitmap_;
    int32_t cursorColumn_ = -1;
    WaveSummary summary_;
    int wheelRest_ = 0;  // eighths of a degree not yet turned into steps
    // The sample a run of zoom steps keeps in place: while nothing else moved
    // the view, the next step keeps the same sample, so that the rounding of
    // each step does not add up.
    struct ZoomAnchor {
        int64_t sample = -1;
        int x = 0;
        int32_t zoom = 0;
        int32_t position = -1;
        uint64_t revision = 0;
    } zoomAnchor_;
};

}  // namespace notavox
