// The dialog "Sampleformat ändern": the target format of a sample format
// conversion. It holds its controls and nothing else; the main window reads
// them and converts.
#pragma once

#include <QDialog>

#include "audio/SampleFormat.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace notavox {

class TSampleFormat : public QDialog {
    Q_OBJECT
public:
    explicit TSampleFormat(QWidget* parent = nullptr);

    // The target the controls show now: stereo, 16-bit and the rate.
    SampleFormatTarget target() const;
    // Puts a format into the controls.
    void setTarget(const SampleFormatTarget& target);

    QCheckBox* stereocheck = nullptr;
    QCheckBox* bit16check = nullptr;
    QLabel* Label1 = nullptr;
    QSpinBox* SamplesEd = nullptr;
    QPushButton* BitBtnXP3 = nullptr;  // ->8000 Hz
    QPushButton* BitBtnXP4 = nullptr;  // ->11025 Hz
    QPushButton* BitBtnXP5 = nullptr;  // ->22050 Hz
    QPushButton* BitBtnXP6 = nullptr;  // ->44100 Hz
    QPushButton* BitBtnXP1 = nullptr;  // OK
    QPushButton* BitBtnXP2 = nullptr;  // Abbrechen
};

}  // namespace notavox
