#include "view/NoteView.h"

#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "view/WaveGeometry.h"
#include "view/WaveView.h"

namespace notavox {

namespace {

const QColor kRollColor(32, 32, 40);
const QColor kBlackKeyRowColor(24, 24, 30);
const QColor kOctaveLineColor(70, 70, 86);
const QColor kSelectionColor(128, 128, 255, 90);
const QColor kNoteEdgeColor(0, 0, 0);
const QColor kBarLineColor(150, 150, 175);
const QColor kBeatLineColor(64, 64, 80);
constexpr int64_t kMinBeatSpacing = 6;  // columns between two beats for them to be drawn

bool isBlackKey(int pitch) {
    switch (pitch % 12) {
        case 1: case 3: case 6: case 8: case 10: return true;
        default: return false;
    }
}

}  // namespace

TNoteView::TNoteView(AudioDocument& document, TWaveView* wave, QWidget* parent)
    : QWidget(parent), document_(document), wave_(wave) {
    setObjectName("NoteView1");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedHeight(kStripHeight);
    keyBar_ = new QScrollBar(Qt::Vertical, this);
    keyBar_->setObjectName("NoteKeyScroll");
    keyBar_->setSingleStep(1);
    connect(keyBar_, &QScrollBar::valueChanged, this, [this](int v) {
        topKey_ = kHighestKey - v;
        update();
    });
    updateKeyBar();
}

QString TNoteView::noteName(int pitch) {
    static const char* const names[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return QString::fromLatin1(names[((pitch % 12) + 12) % 12]) + QString::number(pitch / 12 - 1);
}

QColor TNoteView::velocityColour(int velocity) {
    // Soft notes blue, through green and yellow, loud notes red.
    const int v = std::clamp(velocity, 1, 127);
    return QColor::fromHsv(240 - (v - 1) * 240 / 126, 210, 255);
}

int TNoteView::visibleRows() const { return std::max(1, height() / kRowHeight); }

void TNoteView::updateKeyBar() {
    const int keys = kHighestKey - kLowestKey + 1;
    const int maxTop = std::max(0, keys - visibleRows());
    keyBar_->setRange(0, maxTop);
    keyBar_->setPageStep(visibleRows());
    keyBar_->setGeometry(width() - keyBar_->sizeHint().width(), 0, keyBar_->sizeHint().width(), height());
    keyBar_->setValue(kHighestKey - topKey_);
    topKey_ = kHighestKey - keyBar_->value();
}

void TNoteView::setTopKey(int key) {
    keyBar_->setValue(kHighestKey - key);  // clamped by the bar
    topKey_ = kHighestKey - keyBar_->value();
    update();
}

void TNoteView::setNotes(std::vector<TranscribedNote> notes) {
    notes_ = std::move(notes);
    beats_.clear();
    notesRevision_ = document_.revision;
    if (!notes_.empty()) {
        int lo = 127, hi = 0;
        for (const TranscribedNote& n : notes_) {
            lo = std::min(lo, n.pitch);
            hi = std::max(hi, n.pitch);
        }
        // The used range in the middle of the strip, or from its top when it
        // is higher than the strip.
        const int rows = visibleRows();
        const int span = hi - lo + 1;
        setTopKey(span >= rows ? hi + 1 : hi + (rows - span) / 2);
    }
    update();
}

void TNoteView::setBeats(std::vector<BeatLine> beats) {
    beats_ = std::move(beats);
    update();
}

const std::vector<BeatLine>& TNoteView::beats() const {
    static const std::vector<BeatLine> none;
    return stale() ? none : beats_;
}

const std::vector<TranscribedNote>& TNoteView::notes() const {
    static const std::vector<TranscribedNote> none;
    return stale() ? none : notes_;
}

int64_t TNoteView::columnOf(double seconds) const {
    // The sample index of the frame at that time, then the waveform view's
    // column of that index: (i - z*p) div z, rounded down.
    const double index = std::floor(seconds * document_.sampleRate) * document_.channelCount();
    const double z = wave_->zoom();
    return int64_t(std::floor((index - z * double(wave_->position())) / z));
}

void TNoteView::resizeEvent(QResizeEvent*) { updateKeyBar(); }

void TNoteView::wheelEvent(QWheelEvent* e) {
    const int steps = e->angleDelta().y() / 40;
    keyBar_->setValue(keyBar_->value() - steps);
    e->accept();
}

void TNoteView::paintEvent(QPaintEvent*) {
    if (stale()) {
        notes_.clear();
        beats_.clear();
    }
    QPainter g(this);
    const int w = width();
    const int h = height();
    g.fillRect(rect(), kRollColor);

    // Rows of the black keys a little darker, a line under every C.
    const int rows = visibleRows() + 1;
    for (int r = 0; r < rows; ++r) {
        const int pitch = topKey_ - r;
        if (pitch < kLowestKey) break;
        if (isBlackKey(pitch)) g.fillRect(QRect(0, r * kRowHeight, w, kRowHeight), kBlackKeyRowColor);
        if (pitch % 12 == 0) g.fillRect(QRect(0, (r + 1) * kRowHeight - 1, w, 1), kOctaveLineColor);
    }

    // The selection, in the waveform view's columns.
    if (document_.hasSelection()) {
        const int32_t a = SelectionColumn(document_.selectionStart, wave_->zoom(), wave_->position(), w);
        const int32_t b = SelectionColumn(document_.selectionEnd, wave_->zoom(), wave_->position(), w);
        const int from = std::max(std::min(a, b), 0), to = std::min(std::max(a, b), w);
        if (to > from) g.fillRect(QRect(from, 0, to - from, h), kSelectionColor);
    }

    // Bar lines, and the beats between them while they stand far enough apart.
    if (beats_.size() > 1) {
        const int64_t spacing = columnOf(beats_[1].seconds) - columnOf(beats_[0].seconds);
        const bool showBeats = spacing >= kMinBeatSpacing;
        for (const BeatLine& b : beats_) {
            if (!b.barStart && !showBeats) continue;
            const int64_t x = columnOf(b.seconds);
            if (x < 0 || x >= w) continue;
            g.fillRect(QRect(int(x), 0, 1, h), b.barStart ? kBarLineColor : kBeatLineColor);
        }
    }

    // The notes.
    for (const TranscribedNote& n : notes_) {
        if (n.pitch > topKey_ || n.pitch < topKey_ - rows) continue;
        const int64_t x0 = columnOf(n.onset);
        const int64_t x1 = std::max(x0 + 1, columnOf(n.offset));
        if (x1 <= 0 || x0 >= w) continue;
        const int left = int(std::max<int64_t>(x0, -1));
        const int right = int(std::min<int64_t>(x1, w + 1));
        const QRect box(left, rowTop(n.pitch), right - left, kRowHeight);
        g.fillRect(box, velocityColour(n.velocity));
        if (box.width() > 2) {
            g.setPen(QPen(kNoteEdgeColor, 0));
            g.drawRect(box.adjusted(0, 0, -1, -1));
        }
    }

    // The keyboard over the left edge, with the names of the Cs.
    QFont small = font();
    small.setPixelSize(std::max(6, kRowHeight));
    g.setFont(small);
    for (int r = 0; r < rows; ++r) {
        const int pitch = topKey_ - r;
        if (pitch < kLowestKey) break;
        const QRect key(0, r * kRowHeight, kKeyboardWidth, kRowHeight);
        if (isBlackKey(pitch)) {
            g.fillRect(key, QColor(235, 235, 235));
            g.fillRect(QRect(0, key.top(), kKeyboardWidth * 3 / 5, kRowHeight), QColor(20, 20, 20));
        } else {
            g.fillRect(key, QColor(250, 250, 250));
        }
        if (pitch % 12 == 0 || pitch % 12 == 5)
            g.fillRect(QRect(0, key.bottom(), kKeyboardWidth, 1), QColor(150, 150, 150));
        if (pitch % 12 == 0) {
            g.setPen(QColor(0, 0, 0));
            g.drawText(QRect(kKeyboardWidth * 3 / 5 - 4, key.top() - 2, kKeyboardWidth * 2 / 5 + 3, kRowHeight + 3),
                       Qt::AlignRight | Qt::AlignVCenter, noteName(pitch));
        }
    }
    g.fillRect(QRect(kKeyboardWidth, 0, 1, h), QColor(100, 100, 100));

    // The playback cursor of the waveform view, in the same column.
    const int32_t cursor = wave_->cursorColumn();
    if (cursor >= 0) {
        g.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        g.setPen(QPen(Qt::white, 0));
        g.drawLine(cursor, 0, cursor, h - 1);
    }
}

}  // namespace notavox
