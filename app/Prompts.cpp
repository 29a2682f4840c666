#include "app/Prompts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace notavox {

QStringList qtNameFilters(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList result;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        result << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
    }
    return result;
}

namespace {

FileDialogResult runFileDialog(QWidget* parent, const FileDialogRequest& request, bool save) {
    QFileDialog dialog(parent, request.title, request.initialDir);
    // Qt's own dialog: its name filters then match without regard to case,
    // so "song.wav" shows under "*.WAV" as it does on other desktops.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFilter(QDir::AllEntries | QDir::AllDirs | QDir::NoDotAndDotDot);
    const QStringList filters = qtNameFilters(request.filter);
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
        dialog.selectNameFilter(filters[request.filterIndex - 1]);
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    dialog.setSizeGripEnabled(true);
    FileDialogResult result;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return result;
    result.accepted = true;
    result.fileName = dialog.selectedFiles().first();
    result.filterIndex = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
    if (result.filterIndex < 1) result.filterIndex = 1;
    return result;
}

}  // namespace

FileDialogResult QtPrompts::openFile(QWidget* parent, const FileDialogRequest& request) {
    return runFileDialog(parent, request, false);
}

FileDialogResult QtPrompts::saveFile(QWidget* parent, const FileDialogRequest& request) {
    return runFileDialog(parent, request, true);
}

int QtPrompts::messageBox(QWidget* parent, const QString& text, const QString& caption, MsgIcon icon,
                          int buttons) {
    QMessageBox box(parent);
    box.setText(text);
    box.setWindowTitle(caption.isEmpty() ? QApplication::applicationName() : caption);
    switch (icon) {
        case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
        case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
        case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
        case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
        case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    }
    QMessageBox::StandardButtons standard;
    if (buttons & MB_OK) standard |= QMessageBox::Ok;
    if (buttons & MB_CANCEL) standard |= QMessageBox::Cancel;
    if (buttons & MB_YES) standard |= QMessageBox::Yes;
    if (buttons & MB_NO) standard |= QMessageBox::No;
    if (buttons & MB_SAVE) standard |= QMessageBox::Save;
    if (buttons & MB_DISCARD) standard |= QMessageBox::Discard;
    if (!standard) standard = QMessageBox::Ok;
    box.setStandardButtons(standard);
    // German captions whatever the desktop's language, each with a letter of its own.
    if (QAbstractButton* b = box.button(QMessageBox::Save)) b->setText("&Speichern");
    if (QAbstractButton* b = box.button(QMessageBox::Discard)) b->setText("&Verwerfen");
    if (QAbstractButton* b = box.button(QMessageBox::Cancel)) b->setText("Abbrechen");
    if (buttons & MB_SAVE) box.setDefaultButton(QMessageBox::Save);
    if (buttons & MB_CANCEL) box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
        case QMessageBox::Ok: return MB_OK;
        case QMessageBox::Yes: return MB_YES;
        case QMessageBox::No: return MB_NO;
        case QMessageBox::Save: return MB_SAVE;
        case QMessageBox::Discard: return MB_DISCARD;
        default: return MB_CANCEL;
    }
}

int QtPrompts::showModal(QDialog& dialog) { return dialog.exec(); }

void QtPrompts::openUrl(const QString& url) { QDesktopServices::openUrl(QUrl(url)); }

}  // namespace notavox
