// The keys of the window, select all, start and end, play/stop, and files
// dropped on the window.
#include <QAction>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QUrl>

#include "app/MainUnit.h"

namespace notavox {

namespace {

// The file a drag carries, when it is one WAV or MP3 file on this machine.
QString droppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1) return QString();
    const QUrl url = data->urls().front();
    if (!url.isLocalFile()) return QString();
    const QString name = url.toLocalFile();
    const QString suffix = QFileInfo(name).suffix().toLower();
    return suffix == "wav" || suffix == "mp3" ? name : QString();
}

// A control the user types text or a number into.
bool isTextField(const QObject* o) {
    if (qobject_cast<const QLineEdit*>(o) || qobject_cast<const QAbstractSpinBox*>(o) ||
        qobject_cast<const QTextEdit*>(o) || qobject_cast<const QPlainTextEdit*>(o))
        return true;
    const auto* box = qobject_cast<const QComboBox*>(o);
    return box && box->isEditable();
}

}  // namespace

void TMainForm::SetupKeys() { qApp->installEventFilter(this); }

// The window's shortcuts win over the control that has the focus: a focused
// button or check box would take Space for itself (and untick the loop box).
// Before a key becomes a shortcut, the focused control is asked whether it
// wants the key; for the window's own keys that question never reaches it.
// A text or number field is the exception: there Ctrl+A, Home, End, Delete,
// Space and Escape edit the field and never the recording; only the file
// commands (open, save, quit) stay reachable from it.
bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(key->keyCombination());
        for (QAction* title : MainMenu1->actions()) {
            if (!title->menu()) continue;
            for (QAction* a : title->menu()->actions())
                for (const QKeySequence& s : a->shortcuts())
                    if (s.matches(pressed) == QKeySequence::ExactMatch) {
                        if (isTextField(watched)) {
                            if (title->menu() == Datei1) return false;
                            event->accept();  // the key goes to the field
                            return true;
                        }
                        event->ignore();
                        return true;
                    }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::Allesauswhlen1Click() {
    if (document.empty()) return;
    document.selectionStart = 0;
    document.selectionEnd = document.sampleCount();
    PaintBox1Paint();
}

void TMainForm::ZumAnfang1Click() { PaintBox1->goToStart(); }

void TMainForm::ZumEnde1Click() { PaintBox1->goToEnd(); }

void TMainForm::AbspielenAnhalten1Click() {
    if (playing)
        StopBTNClick();
    else
        PlayBtnClick();
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
    const QString name = droppedFile(event->mimeData());
    if (name.isEmpty()) return;
    event->acceptProposedAction();
    OpenFile(name);
}

}  // namespace notavox
