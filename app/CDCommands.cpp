// Reading a track from an audio CD.
#include <QComboBox>
#include <QString>

#include "app/MainUnit.h"
#include "app/MusikCDFUnit.h"

namespace notavox {

void TMainForm::SetupCD() {
    MusikCDForm = new TMusikCDForm(*services_.cdTransport, cdDrives, document, this);
}

void TMainForm::MusikCDBtnClick() {
    if (!drivesScanned) {
        drivesScanned = true;
        FindAllCDDrives(*services_.cdTransport, cdDrives, [this](const std::string& line) { MusikCDForm->AddLogLine(line); });
        MusikCDForm->DriveBox->clear();
        for (const std::string& item : DriveListItems(cdDrives))
            MusikCDForm->DriveBox->addItem(QString::fromStdString(item));
        if (MusikCDForm->DriveBox->count() > 0) MusikCDForm->DriveBox->setCurrentIndex(0);
    }
    BeginChange("Von Musik-CD einlesen", PlanForWhole());
    prompts().showModal(*MusikCDForm);
    EndChange();
    // Whatever the dialog did, the view shows the whole recording afresh.
    ZoomOutFullClick();
    PaintBox1Paint();
}

}  // namespace notavox
