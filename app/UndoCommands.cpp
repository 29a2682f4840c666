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
// Takes one step back or forward with `step` (UndoHistory::undo or redo), or
// says that the memory for it is not there. The view shows the whole
// recording when its length changed, else the same part of it.
void takeHistoryStep(TMainForm& form, bool (UndoHistory::*step)(AudioDocument&), const char* outOfMemory) {
    const int32_t before = form.document.byteCount;
    if (!(form.undoHistory.*step)(form.document)) {
        form.ShowMessage(outOfMemory);
        return;
    }
    if (form.document.byteCount != before) form.ZoomOutFullClick();
    form.PaintBox1Paint();
    form.UpdateUndoItems();
}
}  // namespace

void TMainForm::Rckgngig1Click() {
    if (undoHistory.canUndo())
        takeHistoryStep(*this, &UndoHistory::undo, "Nicht genug Speicher, um den Schritt rückgängig zu machen");
}

void TMainForm::Wiederherstellen1Click() {
    if (undoHistory.canRedo())
        takeHistoryStep(*this, &UndoHistory::redo, "Nicht genug Speicher, um den Schritt wiederherzustellen");
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
