#include "view/NoteView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <array>
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
const QColor kSelectedEdgeColor(255, 255, 255);
const QColor kBarLineColor(150, 150, 175);
const QColor kBeatLineColor(64, 64, 80);
const QColor kRulerColor(225, 225, 230);
const QColor kRulerTextColor(20, 20, 20);
constexpr int64_t kMinBeatSpacing = 6;  // columns between two beats for them to be drawn
constexpr double kDefaultNewNote = 0.25;  // seconds of a new note without a grid
constexpr double kArrowStep = 0.05;       // seconds an arrow key moves without a grid

bool isBlackKey(int pitch) {
    switch (pitch % 12) {
        case 1: case 3: case 6: case 8: case 10: return true;
        default: return false;
    }
}

// "0:05", "1:30" for whole seconds, "0:05.5" below.
QString timeLabel(double seconds, bool tenths) {
    const int whole = int(std::floor(seconds + 1e-9));
    QString text = QString("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QChar('0'));
    if (tenths) text += QString(".%1").arg(int(std::lround((seconds - whole) * 10)) % 10);
    return text;
}

}  // namespace

TNoteView::TNoteView(AudioDocument& document, TWaveView* wave, QWidget* parent)
    : QWidget(parent), document_(document), wave_(wave) {
    setObjectName("NoteView1");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumHeight(kRulerHeight + 6 * kRowHeight);
    keyBar_ = new QScrollBar(Qt::Vertical, this);
    keyBar_->setObjectName("NoteKeyScroll");
    keyBar_->setSingleStep(1);
    connect(keyBar_, &QScrollBar::valueChanged, this, [this](int v) {
        topKey_ = kHighestKey - v;
        update();
    });
    updateKeyBar();
    // The cursor is the waveform view's: drawn in the same moment, not one
    // turn of the message loop later (during playback that is a block).
    if (wave_)
        connect(wave_, &TWaveView::cursorMoved, this, [this] {
            if (isVisible()) repaint();
        });
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

int TNoteView::visibleRows() const { return std::max(1, (height() - kRulerHeight) / rowHeight_); }

int TNoteView::rollRight() const { return width() - keyBar_->sizeHint().width(); }

void TNoteView::updateKeyBar() {
    const int keys = kHighestKey - kLowestKey + 1;
    const int maxTop = std::max(0, keys - visibleRows());
    const int top = topKey_;
    keyBar_->setRange(0, maxTop);
    keyBar_->setPageStep(visibleRows());
    keyBar_->setGeometry(rollRight(), 0, keyBar_->sizeHint().width(), height());
    keyBar_->setValue(kHighestKey - top);
    topKey_ = kHighestKey - keyBar_->value();
}

void TNoteView::setTopKey(int key) {
    keyBar_->setValue(kHighestKey - key);  // clamped by the bar
    topKey_ = kHighestKey - keyBar_->value();
    update();
}

void TNoteView::setRowHeight(int pixels) {
    rowHeight_ = std::clamp(pixels, kMinRowHeight, kMaxRowHeight);
    updateKeyBar();
    update();
}

void TNoteView::fitRange() {
    fitOnResize_ = false;
    if (list().empty()) return;
    int lo = 127, hi = 0;
    for (const EditNote& n : list_.notes()) {
        lo = std::min(lo, n.pitch);
        hi = std::max(hi, n.pitch);
    }
    // A free row above and below the keys used.
    lo = std::max(kLowestKey, lo - 1);
    hi = std::min(kHighestKey, hi + 1);
    const int span = hi - lo + 1;
    rowHeight_ = std::clamp((height() - kRulerHeight) / span, kMinRowHeight, kMaxRowHeight);
    updateKeyBar();
    const int rows = visibleRows();
    // The used range in the middle, or from its top when it does not fit.
    setTopKey(span >= rows ? hi : hi + (rows - span) / 2);
}

void TNoteView::setNotes(const std::vector<TranscribedNote>& notes) {
    list_.reset(notes);
    beats_.clear();
    rebuildGrid();
    notesRevision_ = document_.revision;
    fitRange();
    fitOnResize_ = true;
    update();
    emit selectionChanged();
}

void TNoteView::setBeats(std::vector<BeatLine> beats) {
    beats_ = std::move(beats);
    rebuildGrid();
    update();
}

void TNoteView::dropIfStale() const {
    if (!stale() || (list_.empty() && beats_.empty())) return;
    list_.clear();
    beats_.clear();
}

const std::vector<BeatLine>& TNoteView::beats() const {
    dropIfStale();
    return beats_;
}

void TNoteView::clearNotes() {
    list_.clear();
    beats_.clear();
    rebuildGrid();
    update();
    emit selectionChanged();
}

NoteList& TNoteView::list() {
    dropIfStale();
    return list_;
}

const NoteList& TNoteView::list() const {
    dropIfStale();
    return list_;
}

std::vector<TranscribedNote> TNoteView::notes() const { return list().plain(); }

void TNoteView::setSnapDivisions(int divisions) {
    snapDivisions_ = std::max(0, divisions);
    rebuildGrid();
}

void TNoteView::rebuildGrid() {
    grid_.clear();
    if (snapDivisions_ <= 0 || beats_.empty()) return;
    std::vector<double> times;
    times.reserve(beats_.size());
    for (const BeatLine& b : beats_) times.push_back(b.seconds);
    const double end = document_.sampleRate > 0 ? double(document_.frameCount()) / document_.sampleRate : 0.0;
    grid_ = GridFromBeats(times, snapDivisions_, end);
}

const SnapGrid& TNoteView::snapGrid() const {
    static const SnapGrid none;
    return beats().empty() ? none : grid_;
}

SnapGrid TNoteView::quantiseGrid() const {
    if (!snapGrid().empty()) return grid_;
    std::vector<double> times;
    for (const BeatLine& b : beats()) times.push_back(b.seconds);
    const double end = document_.sampleRate > 0 ? double(document_.frameCount()) / document_.sampleRate : 0.0;
    return GridFromBeats(times, 4, end);
}

void TNoteView::commit(NoteChange change) {
    update();
    emit selectionChanged();
    if (!change.empty()) emit edited(change);
}

int64_t TNoteView::columnOf(double seconds) const {
    // The sample index of the frame at that time, then the waveform view's
    // column of that index: (i - z*p) div z, rounded down.
    const double index = std::floor(seconds * document_.sampleRate) * document_.channelCount();
    const double z = wave_->zoom();
    return int64_t(std::floor((index - z * double(wave_->position())) / z));
}

double TNoteView::secondsPerColumn() const {
    if (document_.sampleRate <= 0) return 0.01;
    return double(wave_->zoom()) / document_.channelCount() / document_.sampleRate;
}

double TNoteView::secondsAt(int x) const {
    if (document_.sampleRate <= 0) return 0;
    const double index = double(wave_->zoom()) * (double(wave_->position()) + double(x - kKeyboardWidth));
    return index / document_.channelCount() / document_.sampleRate;
}

int TNoteView::pitchAt(int y) const {
    const int row = int(std::floor(double(y - kRulerHeight) / rowHeight_));
    return topKey_ - row;
}

void TNoteView::resizeEvent(QResizeEvent*) {
    updateKeyBar();
    if (fitOnResize_) {
        fitRange();
        fitOnResize_ = true;
    }
}

void TNoteView::wheelEvent(QWheelEvent* e) {
    fitOnResize_ = false;
    if (e->modifiers() & Qt::ControlModifier) {
        // Vertical zoom around the key under the pointer.
        const int key = pitchAt(int(e->position().y()));
        setRowHeight(rowHeight_ + (e->angleDelta().y() > 0 ? 1 : -1));
        setTopKey(key + (int(e->position().y()) - kRulerHeight) / rowHeight_);
    } else {
        const int steps = e->angleDelta().y() / 40;
        keyBar_->setValue(keyBar_->value() - steps);
    }
    e->accept();
}

// ---------------------------------------------------------------- editing

bool TNoteView::takesKey(int key, Qt::KeyboardModifiers modifiers) const {
    if (list().empty()) return false;
    switch (key) {
        case Qt::Key_Delete: case Qt::Key_Backspace:
        case Qt::Key_Left: case Qt::Key_Right: case Qt::Key_Up: case Qt::Key_Down:
            return true;
        case Qt::Key_A: return modifiers == Qt::ControlModifier;
        default: return false;
    }
}

void TNoteView::keyPressEvent(QKeyEvent* e) {
    NoteList& notes = list();
    if (notes.empty() || drag_ != Drag::None) {
        QWidget::keyPressEvent(e);
        return;
    }
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    switch (e->key()) {
        case Qt::Key_Delete:
        case Qt::Key_Backspace: commit(notes.removeSelected()); break;
        case Qt::Key_Up: commit(notes.move(0, shift ? 12 : 1)); break;
        case Qt::Key_Down: commit(notes.move(0, shift ? -12 : -1)); break;
        case Qt::Key_Left:
        case Qt::Key_Right: {
            // One step of the grid, or a twentieth of a second without one.
            const SnapGrid& grid = snapGrid();
            double first = -1;
            for (const EditNote& n : notes.notes())
                if (n.selected) {
                    first = n.onset;
                    break;
                }
            if (first < 0) break;
            const bool right = e->key() == Qt::Key_Right;
            double target = first + (right ? kArrowStep : -kArrowStep);
            if (!grid.empty()) {
                const auto it = right ? std::upper_bound(grid.begin(), grid.end(), first + 1e-6)
                                      : std::lower_bound(grid.begin(), grid.end(), first - 1e-6);
                if (right) target = it != grid.end() ? *it : first;
                else target = it != grid.begin() ? *(it - 1) : first;
            }
            commit(notes.move(target - first, 0, grid));
            break;
        }
        case Qt::Key_A:
            if (e->modifiers() == Qt::ControlModifier) {
                notes.selectAll();
                commit({});
            }
            break;
        default: QWidget::keyPressEvent(e); return;
    }
    e->accept();
}

bool TNoteView::atEnd(const EditNote& n, int x) const {
    // The grip at the right end; a third of a short note, so that it can still be moved.
    const int64_t right = xOf(n.offset);
    return right - x <= std::min<int64_t>(kEndGrip, (right - xOf(n.onset)) / 3);
}

void TNoteView::mousePressEvent(QMouseEvent* e) {
    setFocus(Qt::MouseFocusReason);
    const QPoint p = e->position().toPoint();
    if (e->button() != Qt::LeftButton || p.x() < kKeyboardWidth || p.x() >= rollRight() || p.y() < kRulerHeight) return;
    NoteList& notes = list();
    pressAt_ = dragAt_ = p;
    dragged_ = false;
    const long hit = notes.noteAt(secondsAt(p.x()), pitchAt(p.y()));
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    if (hit < 0) {
        drag_ = Drag::Band;
        bandAdds_ = shift || ctrl;
        if (!bandAdds_) notes.selectNone();
    } else {
        const EditNote& n = notes.notes()[size_t(hit)];
        dragNote_ = n.id;
        if (ctrl) {
            notes.toggle(n.id);
            drag_ = n.selected ? Drag::Move : Drag::None;  // a note just taken out is not dragged
        } else {
            if (shift) notes.select(n.id, true);
            else if (!n.selected) notes.selectOnly(n.id);
            drag_ = (atEnd(n, p.x()) && !shift) ? Drag::Length : Drag::Move;
        }
    }
    update();
    emit selectionChanged();
}

void TNoteView::mouseMoveEvent(QMouseEvent* e) {
    if (drag_ == Drag::None) {
        // The pointer shows where a note's length can be taken.
        const QPoint p = e->position().toPoint();
        const long hit = p.x() >= kKeyboardWidth && p.y() >= kRulerHeight
                             ? list().noteAt(secondsAt(p.x()), pitchAt(p.y())) : -1;
        setCursor(hit >= 0 && atEnd(list_.notes()[size_t(hit)], p.x()) ? Qt::SizeHorCursor : Qt::ArrowCursor);
        return;
    }
    dragAt_ = e->position().toPoint();
    if ((dragAt_ - pressAt_).manhattanLength() >= 3) dragged_ = true;
    update();
}

void TNoteView::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || drag_ == Drag::None) return;
    const Drag drag = drag_;
    drag_ = Drag::None;
    dragAt_ = e->position().toPoint();
    if ((dragAt_ - pressAt_).manhattanLength() >= 3) dragged_ = true;
    NoteList& notes = list();
    const double dt = double(dragAt_.x() - pressAt_.x()) * secondsPerColumn();
    const int dk = int(std::lround(double(pressAt_.y() - dragAt_.y()) / rowHeight_));
    if (drag == Drag::Band) {
        if (dragged_)
            notes.selectIn(secondsAt(std::min(pressAt_.x(), dragAt_.x())), secondsAt(std::max(pressAt_.x(), dragAt_.x())),
                           pitchAt(std::max(pressAt_.y(), dragAt_.y())), pitchAt(std::min(pressAt_.y(), dragAt_.y())),
                           bandAdds_);
        commit({});
    } else if (drag == Drag::Move && dragged_) {
        commit(notes.move(dt, dk, snapGrid()));
    } else if (drag == Drag::Length && dragged_) {
        const long i = notes.indexOf(dragNote_);
        if (i >= 0) commit(notes.resize(dragNote_, notes.notes()[size_t(i)].offset + dt, snapGrid()));
    } else {
        update();
    }
}

void TNoteView::mouseDoubleClickEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    if (e->button() != Qt::LeftButton || p.x() < kKeyboardWidth || p.x() >= rollRight() || p.y() < kRulerHeight) return;
    drag_ = Drag::None;
    NoteList& notes = list();
    const double at = secondsAt(p.x());
    const int pitch = pitchAt(p.y());
    if (notes.noteAt(at, pitch) >= 0) {
        mousePressEvent(e);  // on a note the second click is a click as the first
        return;
    }
    // One step of the grid long, and as loud as the selected notes were.
    const SnapGrid& grid = snapGrid();
    double length = kDefaultNewNote;
    const double start = std::max(0.0, SnapTime(grid, at));
    if (!grid.empty()) {
        const auto next = std::upper_bound(grid.begin(), grid.end(), start + 1e-6);
        if (next != grid.end()) length = *next - start;
    }
    int velocity = 80;
    for (const EditNote& n : notes.notes())
        if (n.selected) velocity = n.velocity;
    if (stale()) notesRevision_ = document_.revision;  // the first note of a recording without any
    const NoteChange added = notes.add(pitch, at, length, velocity, grid);
    const uint32_t id = added.added.empty() ? 0 : added.added.front().id;
    commit(added);
    // Dragged on from the double click: the new note's length is drawn.
    drag_ = Drag::Length;
    dragNote_ = id;
    pressAt_ = dragAt_ = p;
    dragged_ = false;
}

// ---------------------------------------------------------------- drawing

void TNoteView::paintRuler(QPainter& g, int right) {
    g.fillRect(QRect(0, 0, width(), kRulerHeight), kRulerColor);
    g.fillRect(QRect(0, kRulerHeight - 1, width(), 1), QColor(120, 120, 130));
    QFont small = font();
    small.setPixelSize(9);
    g.setFont(small);
    g.setPen(kRulerTextColor);
    g.setClipRect(QRect(kKeyboardWidth, 0, right - kKeyboardWidth, kRulerHeight));
    // The bars, numbered from the first whole one; numbers at least 24
    // pixels apart.
    int bar = 0;
    int64_t lastLabel = -1000;
    for (const BeatLine& b : beats_) {
        if (!b.barStart) continue;
        ++bar;
        const int64_t x = xOf(b.seconds);
        if (x < kKeyboardWidth - 30 || x >= right) continue;
        g.fillRect(QRect(int(x), 0, 1, kRulerHeight / 2), QColor(90, 90, 110));
        if (x - lastLabel >= 24) {
            g.drawText(QRect(int(x) + 2, 0, 40, kRulerHeight / 2), Qt::AlignLeft | Qt::AlignVCenter,
                       QString::number(bar));
            lastLabel = x;
        }
    }
    // The seconds: a step that leaves room for the labels.
    const double perColumn = secondsPerColumn();
    double step = 0.1;
    for (const double s : {0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0, 120.0, 300.0, 600.0}) {
        step = s;
        if (s / perColumn >= 70) break;
    }
    const double from = std::max(0.0, secondsAt(kKeyboardWidth));
    const double to = secondsAt(right);
    for (int64_t k = int64_t(std::floor(from / step)); double(k) * step <= to; ++k) {
        const double t = double(k) * step;
        const int64_t x = xOf(t);
        if (x < kKeyboardWidth) continue;
        g.fillRect(QRect(int(x), kRulerHeight - 6, 1, 5), QColor(60, 60, 60));
        g.drawText(QRect(int(x) + 2, kRulerHeight / 2, 60, kRulerHeight / 2), Qt::AlignLeft | Qt::AlignVCenter,
                   timeLabel(t, step < 1.0));
    }
    g.setClipping(false);
    g.fillRect(QRect(0, 0, kKeyboardWidth, kRulerHeight), kRulerColor);
    g.drawText(QRect(2, 0, kKeyboardWidth - 4, kRulerHeight / 2), Qt::AlignLeft | Qt::AlignVCenter, "Takt");
    g.drawText(QRect(2, kRulerHeight / 2, kKeyboardWidth - 4, kRulerHeight / 2), Qt::AlignLeft | Qt::AlignVCenter,
               "Zeit");
}

void TNoteView::paintKeyboard(QPainter& g, int rows) {
    QFont small = font();
    small.setPixelSize(std::clamp(rowHeight_ + 1, 7, 11));
    g.setFont(small);
    g.fillRect(QRect(0, kRulerHeight, kKeyboardWidth, height() - kRulerHeight), QColor(60, 60, 60));
    for (int r = 0; r < rows; ++r) {
        const int pitch = topKey_ - r;
        if (pitch < kLowestKey) break;
        const QRect key(0, kRulerHeight + r * rowHeight_, kKeyboardWidth, rowHeight_);
        if (isBlackKey(pitch)) {
            g.fillRect(key, QColor(235, 235, 235));
            g.fillRect(QRect(0, key.top(), kKeyboardWidth * 3 / 5, rowHeight_), QColor(20, 20, 20));
        } else {
            g.fillRect(key, QColor(250, 250, 250));
        }
        if (pitch % 12 == 0 || pitch % 12 == 5)
            g.fillRect(QRect(0, key.bottom(), kKeyboardWidth, 1), QColor(150, 150, 150));
        if (pitch % 12 == 0 || (rowHeight_ >= 10 && !isBlackKey(pitch))) {
            g.setPen(QColor(0, 0, 0));
            g.drawText(QRect(kKeyboardWidth * 3 / 5 - 10, key.top() - 2, kKeyboardWidth * 2 / 5 + 9, rowHeight_ + 3),
                       Qt::AlignRight | Qt::AlignVCenter, noteName(pitch));
        }
    }
    g.fillRect(QRect(kKeyboardWidth - 1, kRulerHeight, 1, height() - kRulerHeight), QColor(100, 100, 100));
}

void TNoteView::paintEvent(QPaintEvent*) {
    dropIfStale();
    const int w = width();
    const int h = height();
    const int right = rollRight();
    const QRect roll(kKeyboardWidth, kRulerHeight, std::max(0, right - kKeyboardWidth), std::max(0, h - kRulerHeight));
    // The roll is drawn into an image of its own: the notes go in as plain
    // pixel fills, which keeps a repaint of many thousand notes short.
    if (frame_.size() != size()) frame_ = QImage(size(), QImage::Format_RGB32);
    const int rows = visibleRows() + 1;
    {
        QPainter g(&frame_);
        g.fillRect(rect(), kRollColor);
        g.setClipRect(roll);

        // Rows of the black keys a little darker, a line under every C.
        for (int r = 0; r < rows; ++r) {
            const int pitch = topKey_ - r;
            if (pitch < kLowestKey) break;
            const int y = kRulerHeight + r * rowHeight_;
            if (isBlackKey(pitch)) g.fillRect(QRect(0, y, w, rowHeight_), kBlackKeyRowColor);
            if (pitch % 12 == 0) g.fillRect(QRect(0, y + rowHeight_ - 1, w, 1), kOctaveLineColor);
        }

        // The selection of the recording, in the waveform view's columns.
        if (document_.hasSelection()) {
            const int cols = right - kKeyboardWidth;
            const int32_t a = SelectionColumn(document_.selectionStart, wave_->zoom(), wave_->position(), cols);
            const int32_t b = SelectionColumn(document_.selectionEnd, wave_->zoom(), wave_->position(), cols);
            const int from = std::max(std::min(a, b), 0), to = std::min(std::max(a, b), cols);
            if (to > from) g.fillRect(QRect(kKeyboardWidth + from, kRulerHeight, to - from, h), kSelectionColor);
        }

        // Bar lines, and the beats between them while they stand far enough apart.
        if (beats_.size() > 1) {
            const int64_t spacing = columnOf(beats_[1].seconds) - columnOf(beats_[0].seconds);
            const bool showBeats = spacing >= kMinBeatSpacing;
            for (const BeatLine& b : beats_) {
                if (!b.barStart && !showBeats) continue;
                const int64_t x = xOf(b.seconds);
                if (x < kKeyboardWidth || x >= right) continue;
                g.fillRect(QRect(int(x), kRulerHeight, 1, h), b.barStart ? kBarLineColor : kBeatLineColor);
            }
        }
    }

    // The notes; a dragged selection where it would go.
    double dt = 0, dLength = 0;
    int dk = 0;
    if (drag_ == Drag::Move && dragged_) {
        dt = list_.moveShift(double(dragAt_.x() - pressAt_.x()) * secondsPerColumn(), snapGrid());
        dk = list_.moveKeys(int(std::lround(double(pressAt_.y() - dragAt_.y()) / rowHeight_)));
    } else if (drag_ == Drag::Length && dragged_) {
        const long i = list_.indexOf(dragNote_);
        if (i >= 0)
            dLength = list_.resizeShift(dragNote_, list_.notes()[size_t(i)].offset +
                                                       double(dragAt_.x() - pressAt_.x()) * secondsPerColumn(),
                                        snapGrid());
    }
    const double tEnd = secondsAt(right + 1) - std::min(dt, 0.0);
    const int lowest = topKey_ - rows;
    // The colours once, not once per note.
    static const std::array<QRgb, 128> palette = [] {
        std::array<QRgb, 128> p;
        for (int v = 0; v < 128; ++v) p[size_t(v)] = velocityColour(v).rgb();
        return p;
    }();
    const QRgb edge = kNoteEdgeColor.rgb(), selectedEdge = kSelectedEdgeColor.rgb();
    const auto fill = [&](const QRect& r, QRgb colour) {
        const QRect c = r.intersected(roll);
        for (int y = c.top(); y <= c.bottom(); ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(frame_.scanLine(y));
            std::fill(line + c.left(), line + c.right() + 1, colour);
        }
    };
    for (const EditNote& n : list_.notes()) {
        if (n.onset > tEnd) break;  // ordered by onset: none further on is in view
        const int pitch = n.selected ? n.pitch + dk : n.pitch;
        if (pitch > topKey_ || pitch < lowest) continue;
        double on = n.onset, off = n.offset;
        if (n.selected) {
            on += dt;
            off = std::max(on + kShortestEditNote, off + dt + dLength);
        }
        const int64_t x0 = xOf(on);
        const int64_t x1 = std::max(x0 + 1, xOf(off));
        if (x1 <= kKeyboardWidth || x0 >= right) continue;
        const int left = int(std::max<int64_t>(x0, kKeyboardWidth - 2));
        const int end = int(std::min<int64_t>(x1, right + 1));
        const QRect box(left, rowTop(pitch), end - left, rowHeight_);
        const QRgb inside = palette[size_t(std::clamp(n.velocity, 0, 127))];
        // A black edge (white when selected) around the colour of the velocity.
        if (n.selected || box.width() > 2) {
            fill(box, n.selected ? selectedEdge : edge);
            if (box.width() > 2 && box.height() > 2) fill(box.adjusted(1, 1, -1, -1), inside);
        } else {
            fill(box, inside);
        }
    }

    QPainter g(this);
    g.drawImage(0, 0, frame_);
    g.setClipRect(roll);

    // The rubber band.
    if (drag_ == Drag::Band && dragged_) {
        g.setPen(QPen(QColor(255, 255, 255), 0, Qt::DashLine));
        g.setBrush(QColor(255, 255, 255, 40));
        g.drawRect(QRect(pressAt_, dragAt_).normalized());
        g.setBrush(Qt::NoBrush);
    }

    // The playback cursor of the waveform view, in the same column.
    const int32_t cursor = wave_->cursorColumn();
    if (cursor >= 0) {
        g.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        g.setPen(QPen(Qt::white, 0));
        g.drawLine(kKeyboardWidth + cursor, kRulerHeight, kKeyboardWidth + cursor, h - 1);
        g.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    g.setClipping(false);

    paintRuler(g, right);
    paintKeyboard(g, rows);
}

}  // namespace notavox
