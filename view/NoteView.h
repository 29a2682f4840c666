// The note view: the notes found in the recording as a piano roll beside
// the waveform view and on its time axis, where the user corrects them. It
// follows the waveform view's zoom, scroll position, selection and playback
// cursor. A keyboard with the note names (C4 = middle C) stands at its left,
// left of the time axis; a ruler above the notes gives the bar numbers of
// the tempo map and the seconds; bar and beat lines stand behind the notes
// once the beats are known; the colour of a note shows its velocity. It
// scrolls and zooms vertically over the 88 keys of a piano.
//
// Editing: a click selects a note (Shift or Ctrl adds or toggles), a drag on
// the empty roll selects the notes in its rectangle, a drag moves the
// selected notes in time and pitch, a drag at a note's right end changes its
// length, a double click adds a note; the arrow keys move the selection
// (Shift with Up and Down: an octave), Delete removes it, Ctrl+A selects
// every note. The edits themselves are NoteList's (notes/NoteEditing); each
// one that changes something is reported through edited() for the undo
// history.
//
// The notes belong to the recording as it was analysed: once the recording
// changes (AudioDocument::revision) the view drops them.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "audio/AudioDocument.h"
#include "notes/NoteEditing.h"
#include "rhythm/TempoMappedExport.h"
#include "transcription/TranscribedNote.h"

class QScrollBar;

namespace notavox {

class TWaveView;

class TNoteView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kLowestKey = 21;    // A0
    static constexpr int kHighestKey = 108;  // C8
    static constexpr int kRowHeight = 7;     // the row height before any fitting
    static constexpr int kMinRowHeight = 3;
    static constexpr int kMaxRowHeight = 24;
    static constexpr int kKeyboardWidth = 40;
    static constexpr int kRulerHeight = 22;
    static constexpr int kEndGrip = 4;  // pixels at a note's right end that take its length

    TNoteView(AudioDocument& document, TWaveView* wave, QWidget* parent);

    // Shows `notes` as the notes of the recording as it is now (a new
    // analysis: nothing selected) and fits the view to their keys.
    void setNotes(const std::vector<TranscribedNote>& notes);
    void clearNotes();
    // Bar and beat lines behind the notes and in the ruler (setNotes drops
    // them); they belong to the recording as the notes do.
    void setBeats(std::vector<BeatLine> beats);
    const std::vector<BeatLine>& beats() const;
    // The notes as they are now, edits and all, as long as they still
    // belong to the recording.
    std::vector<TranscribedNote> notes() const;
    bool hasNotes() const { return !list().empty(); }
    // The list the edits work on (empty once the recording changed).
    NoteList& list();
    const NoteList& list() const;

    // Snapping of moves, lengths and new notes: 0 off, else points per beat
    // (1: the beats). Without beats nothing snaps.
    void setSnapDivisions(int divisions);
    int snapDivisions() const { return snapDivisions_; }
    const SnapGrid& snapGrid() const;
    // The grid "Quantisieren" uses: the snap grid, or sixteenths when
    // snapping is off.
    SnapGrid quantiseGrid() const;

    // Edits from outside the mouse and keys (the window's fields and
    // commands); each reports its change through edited().
    void commit(NoteChange change);

    // The key in the top row, the rows' height, and the vertical scroll bar
    // that moves the rows.
    int topKey() const { return topKey_; }
    void setTopKey(int key);
    int rowHeight() const { return rowHeight_; }
    void setRowHeight(int pixels);
    int visibleRows() const;
    QScrollBar* keyScrollBar() const { return keyBar_; }
    // "Tonumfang einpassen": the keys the notes use fill the height.
    void fitRange();

    // Geometry, shared by the drawing and the tests. columnOf: the waveform
    // view's column of a time; xOf: the pixel of this widget there (the time
    // axis starts right of the keyboard). rowTop: the top pixel of a key's row.
    int64_t columnOf(double seconds) const;
    int64_t xOf(double seconds) const { return kKeyboardWidth + columnOf(seconds); }
    double secondsAt(int x) const;
    int pitchAt(int y) const;
    int rowTop(int pitch) const { return kRulerHeight + (topKey_ - pitch) * rowHeight_; }
    int rollRight() const;  // first pixel right of the roll (the scroll bar)
    static QColor velocityColour(int velocity);
    // "C4" for 60, "F#2" for 42.
    static QString noteName(int pitch);
    // The keys the view takes for itself while it has the focus, before
    // the window's shortcuts (Delete, Ctrl+A, the arrow keys).
    bool takesKey(int key, Qt::KeyboardModifiers modifiers) const;

signals:
    void edited(const notavox::NoteChange& change);
    void selectionChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Drag { None, Move, Length, Band };
    void updateKeyBar();
    bool stale() const { return notesRevision_ != document_.revision; }
    void dropIfStale() const;
    void rebuildGrid();
    bool atEnd(const EditNote& n, int x) const;  // x takes the note's length
    double secondsPerColumn() const;
    void paintRuler(class QPainter& g, int right);
    void paintKeyboard(class QPainter& g, int rows);

    AudioDocument& document_;
    TWaveView* wave_;
    QScrollBar* keyBar_;
    mutable NoteList list_;
    mutable std::vector<BeatLine> beats_;
    uint64_t notesRevision_ = 0;
    int topKey_ = 84;
    int rowHeight_ = kRowHeight;
    int snapDivisions_ = 0;
    bool fitOnResize_ = false;  // new notes fit the view until the user scrolls or zooms
    SnapGrid grid_;
    QImage frame_;  // the roll, drawn anew on each repaint

    Drag drag_ = Drag::None;
    QPoint pressAt_;
    QPoint dragAt_;
    uint32_t dragNote_ = 0;
    bool dragged_ = false;
    bool bandAdds_ = false;
};

}  // namespace notavox
