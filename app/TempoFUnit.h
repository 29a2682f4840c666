// The dialog of the accurate save before the file is written: the tempo,
// metre and key found in the recording, which the user may change, and the
// quantisation of the notes. It only shows and collects; the file is laid
// out by the same core code as notavox-convert's.
#pragma once

#include <QDialog>

#include "rhythm/TempoMappedExport.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace notavox {

class TTempoForm : public QDialog {
    Q_OBJECT
public:
    // `found` fills the controls; OK then gives choices() that write the
    // file notavox-convert writes when nothing was changed.
    TTempoForm(const RhythmAnalysis& found, QWidget* parent = nullptr);

    TempoChoices choices() const;

    QLabel* FoundLabel = nullptr;        // "Gefunden: 84 Schläge pro Minute, 3/4-Takt, G-Dur"
    QCheckBox* FolgenCheck = nullptr;    // the tempo follows the beats found
    // The beats at the tempo found and at half and twice that tempo, one click
    // each: "halb so schnell: 60", "wie gefunden: 120", "doppelt so schnell: 240".
    QRadioButton* HalbBtn = nullptr;
    QRadioButton* GefundenBtn = nullptr;
    QRadioButton* DoppeltBtn = nullptr;
    QDoubleSpinBox* TempoEd = nullptr;   // else one fixed tempo
    QComboBox* TaktBox = nullptr;        // "2/4" ... "12/8"
    QComboBox* TonartBox = nullptr;      // "C-Dur" ... "h-Moll"
    QComboBox* QuantisierenBox = nullptr;  // "Aus", "1/4", ... "1/16T"
    QSpinBox* StaerkeEd = nullptr;       // percent
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

private:
    void updateEnabled();
    TempoLevel level() const;

    RhythmAnalysis found_;
};

// "6/8" for a metre.
QString MetreText(const Metre& metre);

}  // namespace notavox
