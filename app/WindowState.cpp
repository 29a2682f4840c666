// The window's title, unsaved changes, which commands can be used now, and
// the window's place on the screen.
#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>

#include "app/MainUnit.h"
#include "view/NoteView.h"

namespace notavox {

namespace {
constexpr const char* kProgramTitle = "Velmira Notavox 1.0";
}  // namespace

void TMainForm::RecordingOpened(const QString& fileName) {
    undoHistory.clear();  // a new recording starts a new history
    savedState = undoHistory.state();
    documentName = fileName;
    // What was said or found about the recording before is not about this one.
    StatusBar1->setPanelText(0, QString());
    NoteView1->clearNotes();
    UpdateUndoItems();
}

void TMainForm::RecordingSaved(const QString& fileName) {
    savedState = undoHistory.state();
    documentName = fileName;
    UpdateCommands();
}

bool TMainForm::modified() const { return !document.empty() && undoHistory.state() != savedState; }

bool TMainForm::ConfirmDiscard(const QString& caption) {
    if (!modified()) return true;
    const QString text =
        documentName.isEmpty()
            ? QString("Die Aufnahme ist nicht gespeichert.\nSoll sie gespeichert werden?")
            : QString("Die Änderungen an \"%1\" sind nicht gespeichert.\nSollen sie gespeichert werden?")
                  .arg(QFileInfo(documentName).fileName());
    switch (ShowMessage(text, MsgIcon::Warning, MB_SAVE | MB_DISCARD | MB_CANCEL, caption)) {
        case MB_DISCARD: return true;
        case MB_SAVE: return SaveRecording();
        default: return false;
    }
}

void TMainForm::UpdateCommands() {
    const bool loaded = !document.empty();
    const bool idle = !busy_;

    QString title = kProgramTitle;
    if (loaded || !documentName.isEmpty()) {
        const QString name = documentName.isEmpty() ? QString("Unbenannt") : QFileInfo(documentName).fileName();
        title = name + (modified() ? "*" : "") + " - " + title;
    }
    setWindowTitle(title);

    // Commands that start work or change the recording wait for the long work.
    for (QWidget* w : std::initializer_list<QWidget*>{OpenBtn, MusikCDBtn}) w->setEnabled(idle);
    for (QAction* a : {ffnen1, VonMusikCDeinlesen1}) a->setEnabled(idle);
    // Commands that need a recording.
    for (QWidget* w : std::initializer_list<QWidget*>{SaveBtn, Button1, Button2, CropToSelection, CutSelectionBtn,
                                                      ChangeFormat})
        w->setEnabled(idle && loaded);
    for (QAction* a : {Speichern1, SpeichernalsMID1, SpeichernalsMIDgenaueErkennung1, SpeichernalsNotenblatt1,
                       ZurAuswahlzurechtschneiden1,
                       DieAuswahlwegschneiden1, Sampleformatndern1, Notenerkennen1, Effekte1->menuAction(),
                       Nichtsauswhlen1})  // Escape belongs to "Abbrechen" during the long work
        a->setEnabled(idle && loaded);
    for (QWidget* w : std::initializer_list<QWidget*>{ZoomKleinerBtn, ZoomGroesserBtn, ZoomOutFull, ZoomInFull,
                                                      ZoomSel, ZoomOutEd})
        w->setEnabled(loaded);
    for (QAction* a : {GanzeDatei1, VollerZoom1, ZoomaufAuswahl1, Kleiner1, Grer1, ZumAnfang1, ZumEnde1,
                       Allesauswhlen1})
        a->setEnabled(loaded);
    PlayBtn->setEnabled(idle && loaded && !playing);
    AbspielenAnhalten1->setEnabled(playing || (idle && loaded));
    StopBTN->setEnabled(busy_ || playing);
    Abbrechen1->setEnabled(busy_);
    Rckgngig1->setEnabled(idle && undoHistory.canUndo());
    Wiederherstellen1->setEnabled(idle && undoHistory.canRedo());
}

void TMainForm::PlaceOnScreen(const QRect& area) {
    if (area.isEmpty()) return;
    // The frame the desktop puts around the window, once it is known.
    const QMargins frame = frameGeometry().isValid() ? QMargins(geometry().left() - frameGeometry().left(),
                                                                 geometry().top() - frameGeometry().top(),
                                                                 frameGeometry().right() - geometry().right(),
                                                                 frameGeometry().bottom() - geometry().bottom())
                                                     : QMargins();
    const QSize room = area.size().shrunkBy(frame);
    const QSize wanted = QSize(kWidth, kHeight).boundedTo(room);
    resize(wanted);
    const QSize outer = wanted.grownBy(frame);
    const QPoint corner(area.left() + std::max(0, (area.width() - outer.width()) / 2),
                        area.top() + std::max(0, (area.height() - outer.height()) / 2));
    move(corner);
}

}  // namespace notavox
