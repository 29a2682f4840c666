// Everything modal goes through one seam: the open and save dialogs, message
// boxes, the program's own dialogs and the desktop's URL handler. The program
// uses the real Qt dialogs (QtPrompts); tests script the user's answers.
#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace notavox {

enum class MsgIcon { None, Information, Warning, Error, Question };

// Buttons of a message box, combined with |; the answer is one of them.
enum MsgButton : int { MB_OK = 1, MB_CANCEL = 2, MB_YES = 4, MB_NO = 8, MB_SAVE = 16, MB_DISCARD = 32 };

struct FileDialogRequest {
    QString title;
    // Filter in the program's own form: "description|patterns|description|patterns",
    // patterns separated by ';' (for example "WAV-Datei|*.WAV").
    QString filter;
    QString defaultExt;   // without the dot
    QString initialDir;
    int filterIndex = 1;  // 1-based: the type chosen when the dialog opens
    bool overwritePrompt = false;
};

struct FileDialogResult {
    bool accepted = false;
    QString fileName;
    int filterIndex = 1;  // the type the user chose
};

class UserPrompts {
public:
    virtual ~UserPrompts() = default;
    virtual FileDialogResult openFile(QWidget* parent, const FileDialogRequest& request) = 0;
    virtual FileDialogResult saveFile(QWidget* parent, const FileDialogRequest& request) = 0;
    // An empty caption means the program's default caption.
    virtual int messageBox(QWidget* parent, const QString& text, const QString& caption, MsgIcon icon,
                           int buttons) = 0;
    // Shows one of the program's dialogs modally; returns QDialog::Accepted or Rejected.
    virtual int showModal(QDialog& dialog) = 0;
    virtual void openUrl(const QString& url) = 0;
};

// The real dialogs of the desktop.
class QtPrompts : public UserPrompts {
public:
    FileDialogResult openFile(QWidget* parent, const FileDialogRequest& request) override;
    FileDialogResult saveFile(QWidget* parent, const FileDialogRequest& request) override;
    int messageBox(QWidget* parent, const QString& text, const QString& caption, MsgIcon icon,
                   int buttons) override;
    int showModal(QDialog& dialog) override;
    void openUrl(const QString& url) override;
};

// "WAV-Datei|*.WAV|..." as Qt name filters ("WAV-Datei (*.WAV)", ...).
QStringList qtNameFilters(const QString& filter);

}  // namespace notavox
