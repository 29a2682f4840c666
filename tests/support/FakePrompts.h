// A scripted user for the GUI tests: it answers file dialogs, message boxes
// and the program's dialogs from queues and records what was shown.
#pragma once

#include <QDialog>
#include <QString>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/Prompts.h"

namespace notavox::testing {

struct ShownMessage {
    QString text;
    QString caption;
    MsgIcon icon;
    int buttons;
};

class FakePrompts : public UserPrompts {
public:
    // Answers, taken in order. With an empty queue a file dialog is
    // cancelled, a message box answered with its first button and a dialog
    // rejected.
    std::deque<FileDialogResult> fileAnswers;
    std::deque<int> messageAnswers;
    std::deque<std::function<int(QDialog&)>> dialogAnswers;

    std::vector<FileDialogRequest> openRequests;
    std::vector<FileDialogRequest> saveRequests;
    std::vector<ShownMessage> messages;
    std::vector<QString> dialogsShown;  // object names
    std::vector<QString> urlsOpened;

    void answerFile(const QString& name, int filterIndex = 1) {
        fileAnswers.push_back(FileDialogResult{true, name, filterIndex});
    }
    void cancelFile() { fileAnswers.push_back(FileDialogResult{}); }

    FileDialogResult openFile(QWidget*, const FileDialogRequest& request) override {
        openRequests.push_back(request);
        return nextFile();
    }
    FileDialogResult saveFile(QWidget*, const FileDialogRequest& request) override {
        saveRequests.push_back(request);
        return nextFile();
    }
    int messageBox(QWidget*, const QString& text, const QString& caption, MsgIcon icon, int buttons) override {
        messages.push_back(ShownMessage{text, caption, icon, buttons});
        if (!messageAnswers.empty()) {
            int a = messageAnswers.front();
            messageAnswers.pop_front();
            return a;
        }
        for (int b : {MB_OK, MB_YES, MB_NO, MB_CANCEL})
            if (buttons & b) return b;
        return MB_OK;
    }
    int showModal(QDialog& dialog) override {
        dialogsShown.push_back(dialog.objectName());
        if (dialogAnswers.empty()) return QDialog::Rejected;
        auto answer = std::move(dialogAnswers.front());
        dialogAnswers.pop_front();
        return answer(dialog);
    }
    void openUrl(const QString& url) override { urlsOpened.push_back(url); }

    QStringList messageTexts() const {
        QStringList l;
        for (const auto& m : messages) l << m.text;
        return l;
    }

private:
    FileDialogResult nextFile() {
        if (fileAnswers.empty()) return FileDialogResult{};
        FileDialogResult r = fileAnswers.front();
        fileAnswers.pop_front();
        return r;
    }
};

// A file name as the dialogs answer it.
inline QString q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace notavox::testing
