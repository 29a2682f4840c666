// Undo and redo: "Rückgängig" and "Wiederherstellen" at the top of
// "Bearbeiten". The steps are kept by audio/UndoHistory.
#include <QAction>

#include "app/MainUnit.h"

namespace notavox {

void TMainForm::BeginChange(const QString& name, const ChangePlan& plan) {
    undoHistory.begin(name.toStdString(), document, plan);
}

void TMainForm::EndChange() {
    undoHistory.commit(document);
    // The samples may have changed in place: whatever is derived from them
    // is made afresh.
    document.touch();
    UpdateUndoItems();
    UpdateInfoPanel();
}

namespace {
// The view after an undo or redo: the whole recording when its length
// changed, else the same part of it.
void showRestored(TMainForm& form, int32_t oldByteCount) {
    if (form.document.byteCount != oldByteCount) form.ZoomOutFullClick();
    form.PaintBox1Paint();
    form.UpdateUndoItems();
}
}  // namespace

void TMainForm::Rckgngig1Click() {
    if (!undoHistory.canUndo()) return;
    const int32_t before = document.byteCount;
    if (!undoHistory.undo(document)) {
        ShowMessage("Nicht genug Speicher, um den Schritt rückgängig zu machen");
        return;
    }
    showRestored(*this, before);
}

void TMainForm::Wiederherstellen1Click() {
    if (!undoHistory.canRedo()) return;
    const int32_t before = document.byteCount;
    if (!undoHistory.redo(document)) {
        ShowMessage("Nicht genug Speicher, um den Schritt wiederherzustellen");
        return;
    }
    showRestored(*this, before);
}

void TMainForm::UpdateUndoItems() {
    Rckgngig1->setText(undoHistory.canUndo() ? "&Rückgängig: " + QString::fromStdString(undoHistory.undoName())
                                             : QString("&Rückgängig"));
    Wiederherstellen1->setText(undoHistory.canRedo()
                                   ? "&Wiederherstellen: " + QString::fromStdString(undoHistory.redoName())
                                   : QString("&Wiederherstellen"));
    UpdateCommands();  // the title's mark and what can be used now
}

}  // namespace notavox
