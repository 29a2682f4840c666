#include "app/MusikCDFUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <algorithm>

#include "cdrom/SenseMessages.h"

namespace notavox {

namespace {

// What the core's read loop needs, done with the dialog's controls.
class DialogRipHost : public RipHost {
public:
    explicit DialogRipHost(TMusikCDForm& form) : form_(form) {}
    void ProcessMessages() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
    void log(const std::string& line) override { form_.AddLogLine(line); }
    void ChangeSec(int64_t lba) override { form_.ChangeSec(lba); }

private:
    TMusikCDForm& form_;
};

constexpr int kMargin = 12;
constexpr int kRowHeight = 24;
constexpr int kMemoHeight = 45;
constexpr int kButtonWidth = 85;
constexpr int kButtonHeight = 25;

}  // namespace

TMusikCDForm::TMusikCDForm(ScsiTransport& transport, const CdDriveTable& drives, AudioDocument& document,
                           QWidget* parent)
    : QDialog(parent), transport_(transport), drives_(drives), document_(document) {
    setObjectName("MusikCDForm");
    setWindowTitle("Lied von Musik-CD einlesen...");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setModal(true);

    Label2 = new QLabel("Laufwerk:", this);
    Label2->setObjectName("Label2");
    DriveBox = new QComboBox(this);
    DriveBox->setObjectName("DriveBox");
    DriveBox->setEditable(false);
    Label4 = new QLabel("Track zum Speichern:", this);
    Label4->setObjectName("Label4");
    STrackEd = new QSpinBox(this);
    STrackEd->setObjectName("STrackEd");
    STrackEd->setRange(1, 256);
    STrackEd->setValue(1);
    Label1 = new QLabel(QString(), this);
    Label1->setObjectName("Label1");
    KaraokeCheck = new QCheckBox("Karaoke Modus (nur Hintergrundmusik)", this);
    KaraokeCheck->setObjectName("KaraokeCheck");
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    {
        // The tool-tip colours of the desktop.
        QPalette pal = Memo1->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
        pal.setColor(QPalette::Text, pal.color(QPalette::ToolTipText));
        Memo1->setPalette(pal);
    }
    BitBtnXP1 = new QPushButton("OK", this);
    BitBtnXP1->setObjectName("BitBtnXP1");
    BitBtnXP1->setAutoDefault(false);
    BitBtnXP1->setDefault(true);
    BitBtnXP2 = new QPushButton("Abbrechen", this);
    BitBtnXP2->setObjectName("BitBtnXP2");
    BitBtnXP2->setAutoDefault(false);
    connect(BitBtnXP1, &QPushButton::clicked, this, [this] { BitBtnXP1Click(); });
    connect(BitBtnXP2, &QPushButton::clicked, this, [this] { BitBtnXP2Click(); });

    // The layout follows the desktop's font, so that no German text is cut.
    const QFontMetrics fm(font());
    const int labelColumn =
        kMargin + std::max(Label2->sizeHint().width(), Label4->sizeHint().width()) + 8;
    const int driveWidth = std::max(260, fm.horizontalAdvance("/dev/sr10: MMMMMMMMMMMMMMMM") + 40);
    const int spinWidth = std::max(70, STrackEd->sizeHint().width());
    const int positionWidth = fm.horizontalAdvance("Track no. 256 Time 00:00:00 s") + 8;
    const int width = std::max({labelColumn + driveWidth + kMargin,
                                labelColumn + spinWidth + 12 + positionWidth + kMargin,
                                kMargin + KaraokeCheck->sizeHint().width() + kMargin,
                                kMargin + 2 * kButtonWidth + 8 + kMargin});
    const int labelHeight = std::max(Label2->sizeHint().height(), fm.height());
    const int labelOffset = (kRowHeight - labelHeight) / 2;

    int y = kMargin;
    Label2->setGeometry(kMargin, y + labelOffset, labelColumn - kMargin - 4, labelHeight);
    DriveBox->setGeometry(labelColumn, y, width - kMargin - labelColumn, kRowHeight);
    y += kRowHeight + 8;
    Label4->setGeometry(kMargin, y + labelOffset, labelColumn - kMargin - 4, labelHeight);
    STrackEd->setGeometry(labelColumn, y, spinWidth, kRowHeight);
    const int positionLeft = labelColumn + spinWidth + 12;
    Label1->setGeometry(positionLeft, y + labelOffset, width - kMargin - positionLeft, labelHeight);
    y += kRowHeight + 8;
    KaraokeCheck->setGeometry(kMargin, y, width - 2 * kMargin, kRowHeight);
    y += kRowHeight + 6;
    Memo1->setGeometry(kMargin, y, width - 2 * kMargin, kMemoHeight);
    y += kMemoHeight + 12;
    const int buttonsLeft = (width - (2 * kButtonWidth + 8)) / 2;
    BitBtnXP1->setGeometry(buttonsLeft, y, kButtonWidth, kButtonHeight);
    BitBtnXP2->setGeometry(buttonsLeft + kButtonWidth + 8, y, kButtonWidth, kButtonHeight);
    y += kButtonHeight + kMargin;
    setFixedSize(width, y);

    // Centred on the screen.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width / 2, y / 2));
    }
}

void TMusikCDForm::BitBtnXP1Click() {
    BitBtnXP1->setEnabled(false);
    SaveTrackClick();
    BitBtnXP1->setEnabled(true);
    // The OK result even when "Abbrechen" ended the read: its closing came
    // first, this one is the last word.
    done(QDialog::Accepted);
}

void TMusikCDForm::BitBtnXP2Click() {
    ripState.ripStopRequested = true;
    QDialog::reject();
}

void TMusikCDForm::reject() { BitBtnXP2Click(); }

void TMusikCDForm::SaveTrackClick() {
    RipSettings settings;
    settings.driveIndex = DriveBox->currentIndex();
    settings.trackNumber = STrackEd->value();
    settings.karaoke = KaraokeCheck->isChecked();
    DialogRipHost host(*this);
    SaveTrack(transport_, drives_, settings, ripState, document_, host);
}

void TMusikCDForm::ChangeSec(int64_t lba) {
    Label1->setText(QString::fromStdString(ChangeSecText(lba, ripState.toc)));
}

QString TMusikCDForm::geterrorMessage(uint8_t senseKey, uint8_t asc, uint8_t ascq) const {
    return QString::fromStdString(notavox::geterrorMessage(senseKey, asc, ascq));
}

void TMusikCDForm::AddLogLine(const std::string& line) { Memo1->appendPlainText(QString::fromStdString(line)); }

}  // namespace notavox
