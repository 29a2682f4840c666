// The time-span dialog of the effects: "Zeitspanne: [ZeitEd] Sekunden",
// OK and "Abbrechen". It holds its controls and nothing else; each effect
// writes its default into ZeitEd, shows the dialog and reads the value back.
#pragma once

#include <QDialog>
#include <QDoubleSpinBox>

class QLabel;
class QPushButton;

namespace notavox {

// A spin edit for real numbers: shows values with two decimals, or with as
// many as a smaller value needs (up to six), and accepts what is typed.
class TFloatSpinEdit : public QDoubleSpinBox {
    Q_OBJECT
public:
    explicit TFloatSpinEdit(QWidget* parent = nullptr);
    QString textFromValue(double value) const override;
};

class TEchoForm : public QDialog {
    Q_OBJECT
public:
    explicit TEchoForm(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;  // "Zeitspanne:"
    TFloatSpinEdit* ZeitEd = nullptr;
    QLabel* Label2 = nullptr;  // "Sekunden"
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
};

}  // namespace notavox
