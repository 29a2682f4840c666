// Reading a track from an audio CD.
#include <QComboBox>
#include <QString>

#include "app/MainUnit.h"
#include "app/MusikCDFUnit.h"
#include "view/NoteView.h"

namespace notavox {

void TMainForm::SetupCD() {
    MusikCDForm = new TMusikCDForm(*services_.cdTransport, cdDrives, document, this);
}

void TMainForm::MusikCDBtnClick() {
    // A track read from the CD takes the recording's place.
    if (!ConfirmDiscard("Von Musik-CD einlesen")) return;
    if (!drivesScanned) {
        drivesScanned = true;
        FindAllCDDrives(*services_.cdTransport, cdDrives, [this](const std::string& line) { MusikCDForm->AddLogLine(line); });
        MusikCDForm->DriveBox->clear();
        for (const std::string& item : DriveListItems(cdDrives))
            MusikCDForm->DriveBox->addItem(QString::fromStdString(item));
        if (MusikCDForm->DriveBox->count() > 0) MusikCDForm->DriveBox->setCurrentIndex(0);
    }
    const uint64_t before = undoHistory.state();
    BeginChange("Von Musik-CD einlesen", PlanForWhole());
    prompts().showModal(*MusikCDForm);
    EndChange();
    if (undoHistory.state() != before) {
        // A track was read: it belongs to no file yet, and what was said or
        // found about the recording before is not about this one.
        documentName.clear();
        StatusBar1->setPanelText(0, QString());
        NoteView1->clearNotes();
        UpdateCommands();
    }
    // Whatever the dialog did, the view shows the whole recording afresh.
    ZoomOutFullClick();
    PaintBox1Paint();
}

}  // namespace notavox
