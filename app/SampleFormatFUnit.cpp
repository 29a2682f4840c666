#include "app/SampleFormatFUnit.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>

namespace notavox {

TSampleFormat::TSampleFormat(QWidget* parent) : QDialog(parent) {
    setObjectName("SampleFormat");
    setWindowTitle("Sampleformat ändern");
    // A fixed dialog border: no resizing, no minimise or maximise.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setFixedSize(330, 178);

    auto button = [this](const char* name, const QString& caption, int x, int y, int w) {
        QPushButton* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setGeometry(x, y, w, 25);
        b->setAutoDefault(false);
        return b;
    };
    stereocheck = new QCheckBox("Stereo (ansonsten Mono)", this);
    stereocheck->setObjectName("stereocheck");
    stereocheck->setGeometry(16, 12, 300, 17);
    bit16check = new QCheckBox("16 Bit Samples (ansonsten 8 Bit)", this);
    bit16check->setObjectName("bit16check");
    bit16check->setGeometry(16, 36, 300, 17);
    Label1 = new QLabel("Samples pro Sekunde:", this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(16, 66, 130, 17);
    SamplesEd = new QSpinBox(this);
    SamplesEd->setObjectName("SamplesEd");
    SamplesEd->setRange(1, 200000);
    SamplesEd->setValue(44100);
    SamplesEd->setGeometry(150, 62, 90, 22);
    BitBtnXP3 = button("BitBtnXP3", "->8000 Hz", 16, 94, 70);
    BitBtnXP4 = button("BitBtnXP4", "->11025 Hz", 92, 94, 72);
    BitBtnXP5 = button("BitBtnXP5", "->22050 Hz", 170, 94, 72);
    BitBtnXP6 = button("BitBtnXP6", "->44100 Hz", 248, 94, 72);
    BitBtnXP1 = button("BitBtnXP1", "OK", 92, 140, 75);
    BitBtnXP2 = button("BitBtnXP2", "Abbrechen", 176, 140, 75);
    BitBtnXP1->setDefault(true);

    // The rate buttons only set the field.
    connect(BitBtnXP3, &QPushButton::clicked, this, [this] { SamplesEd->setValue(8000); });
    connect(BitBtnXP4, &QPushButton::clicked, this, [this] { SamplesEd->setValue(11025); });
    connect(BitBtnXP5, &QPushButton::clicked, this, [this] { SamplesEd->setValue(22050); });
    connect(BitBtnXP6, &QPushButton::clicked, this, [this] { SamplesEd->setValue(44100); });
    connect(BitBtnXP1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtnXP2, &QPushButton::clicked, this, &QDialog::reject);

    // Centred on the screen.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

SampleFormatTarget TSampleFormat::target() const {
    return SampleFormatTarget{stereocheck->isChecked(), bit16check->isChecked(), SamplesEd->value()};
}

void TSampleFormat::setTarget(const SampleFormatTarget& t) {
    stereocheck->setChecked(t.stereo);
    bit16check->setChecked(t.sixteenBit);
    SamplesEd->setValue(t.sampleRate);
}

}  // namespace notavox
