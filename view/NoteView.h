// The note view: the notes found in the recording as a piano roll, in a
// strip under the waveform view and on the same time axis. It follows the
// waveform view's zoom, scroll position, selection and playback cursor; a
// keyboard with the note names (C4 = middle C) lies over its left edge, bar
// and beat lines stand behind the notes once the beats are known, the
// colour of a note shows its velocity, and it scrolls vertically over the 88
// keys of a piano.
//
// The notes belong to the recording as it was analysed: once the recording
// changes (AudioDocument::revision) the view drops them.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "audio/AudioDocument.h"
#include "recognition/TranscribedNote.h"
#include "rhythm/TempoMappedExport.h"

class QScrollBar;

namespace notavox {

class TWaveView;

class TNoteView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kLowestKey = 21;    // A0
    static constexpr int kHighestKey = 108;  // C8
    static constexpr int kRowHeight = 7;
    static constexpr int kKeyboardWidth = 40;
    static constexpr int kStripHeight = 150;

    TNoteView(AudioDocument& document, TWaveView* wave, QWidget* parent);

    // Shows `notes` as the notes of the recording as it is now, and scrolls
    // to the keys they use.
    void setNotes(std::vector<TranscribedNote> notes);
    // Bar and beat lines behind the notes (setNotes drops them); they belong
    // to the recording as the notes do.
    void setBeats(std::vector<BeatLine> beats);
    const std::vector<BeatLine>& beats() const;
    // The notes, as long as they still belong to the recording.
    const std::vector<TranscribedNote>& notes() const;
    bool hasNotes() const { return !notes().empty(); }

    // The key in the top row; the vertical scroll bar moves it.
    int topKey() const { return topKey_; }
    void setTopKey(int key);
    int visibleRows() const;

    // Geometry, shared by the drawing and the tests: the column of a time
    // (the waveform view's column of that frame) and the top row pixel of
    // a key.
    int64_t columnOf(double seconds) const;
    int rowTop(int pitch) const { return (topKey_ - pitch) * kRowHeight; }
    static QColor velocityColour(int velocity);
    // "C4" for 60, "F#2" for 42.
    static QString noteName(int pitch);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void updateKeyBar();
    bool stale() const { return notesRevision_ != document_.revision; }

    AudioDocument& document_;
    TWaveView* wave_;
    QScrollBar* keyBar_;
    std::vector<TranscribedNote> notes_;
    std::vector<BeatLine> beats_;
    uint64_t notesRevision_ = 0;
    int topKey_ = 84;
};

}  // namespace notavox
