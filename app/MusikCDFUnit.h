// The dialog "Lied von Musik-CD einlesen...": reads one audio track of a CD
// into the recording. The user picks a drive and a track, may tick the
// karaoke mode and presses "OK"; every outcome becomes a line of the log
// (Memo1). The reading itself is the core's SaveTrack; the dialog supplies
// its controls, the message pump and the log.
//
// The dialog is made once with the main window and lives as long as it: the
// log and the track table of the last TOC keep their contents between reads.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <string>

#include "audio/AudioDocument.h"
#include "cdrom/DriveDiscovery.h"
#include "cdrom/ScsiTransport.h"
#include "cdrom/TrackRipper.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace notavox {

class TMusikCDForm : public QDialog {
    Q_OBJECT
public:
    // `transport`, `drives` and `document` belong to the main window and
    // outlive the dialog's use of them.
    TMusikCDForm(ScsiTransport& transport, const CdDriveTable& drives, AudioDocument& document,
                 QWidget* parent = nullptr);

    // "OK": disables itself, reads the track, enables itself again and
    // closes the dialog with the OK result, whatever the read gave.
    void BitBtnXP1Click();
    // "Abbrechen": asks a running read to stop after its current request and
    // closes the dialog. The read loop pumps messages, so this is reachable
    // while a read runs.
    void BitBtnXP2Click();
    // Reads the track chosen in the controls into the recording; all
    // outcomes are log lines.
    void SaveTrackClick();
    // Shows the track and time of a read position in Label1.
    void ChangeSec(int64_t lba);
    QString geterrorMessage(uint8_t senseKey, uint8_t asc, uint8_t ascq) const;

    // Appends one line to the log; lines are never removed.
    void AddLogLine(const std::string& line);

    // Escape and the close box close the dialog as "Abbrechen" does, so a
    // read never goes on behind a dialog that is no longer shown.
    void reject() override;

    // ripStopRequested, and trackStarts/trackCount of the last TOC read.
    CdRipState ripState;

    QLabel* Label2 = nullptr;  // "Laufwerk:"
    QComboBox* DriveBox = nullptr;
    QLabel* Label4 = nullptr;  // "Track zum Speichern:"
    QSpinBox* STrackEd = nullptr;
    QLabel* Label1 = nullptr;  // track and time of the read position
    QCheckBox* KaraokeCheck = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* BitBtnXP1 = nullptr;  // OK
    QPushButton* BitBtnXP2 = nullptr;  // Abbrechen

private:
    ScsiTransport& transport_;
    const CdDriveTable& drives_;
    AudioDocument& document_;
};

}  // namespace notavox
