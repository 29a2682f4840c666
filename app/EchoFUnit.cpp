#include "app/EchoFUnit.h"

#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <cmath>

namespace notavox {

TFloatSpinEdit::TFloatSpinEdit(QWidget* parent) : QDoubleSpinBox(parent) {
    setDecimals(6);
}

QString TFloatSpinEdit::textFromValue(double value) const {
    int places = 2;
    while (places < decimals() && std::fabs(value * std::pow(10.0, places) - std::round(value * std::pow(10.0, places))) > 1e-6)
        ++places;
    return locale().toString(value, 'f', places);
}

TEchoForm::TEchoForm(QWidget* parent) : QDialog(parent) {
    setObjectName("EchoForm");
    setWindowTitle("Effekt");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    setFixedSize(257, 97);

    Label1 = new QLabel("Zeitspanne:", this);
    Label1->setGeometry(16, 20, 70, 16);
    ZeitEd = new TFloatSpinEdit(this);
    ZeitEd->setObjectName("ZeitEd");
    ZeitEd->setRange(0.000001, 100.0);
    ZeitEd->setSingleStep(0.1);
    ZeitEd->setValue(0.5);
    ZeitEd->setGeometry(88, 16, 89, 24);
    Label2 = new QLabel("Sekunden", this);
    Label2->setGeometry(184, 20, 64, 16);

    OKBtn = new QPushButton("OK", this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setGeometry(48, 56, 75, 25);
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton("Abbrechen", this);
    CancelBtn->setObjectName("CancelBtn");
    CancelBtn->setGeometry(136, 56, 75, 25);
    CancelBtn->setAutoDefault(false);  // Return is OK wherever the focus is
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

}  // namespace notavox
