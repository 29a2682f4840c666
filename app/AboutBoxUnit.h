// The about box: picture, texts, the web-site button and OK.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace notavox {

class UserPrompts;

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kWebAddress = "https://notavox.example.org/";
    TAboutBox(QWidget* parent, UserPrompts* prompts);

    void FormCreate();
    void BitBtnXP1Click();

    QLabel* Image1 = nullptr;
    QLabel* Headline = nullptr;
    QLabel* DatedLine = nullptr;
    QLabel* ContactLine = nullptr;
    QLabel* MakerLines[3] = {nullptr, nullptr, nullptr};
    QPushButton* BitBtnXP1 = nullptr;
    QPushButton* OKButton = nullptr;

private:
    UserPrompts* prompts_;
};

}  // namespace notavox
