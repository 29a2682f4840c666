#include "app/AboutBoxUnit.h"

#include <QDate>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "app/JpegImage.h"
#include "app/Prompts.h"

// The picture is compiled into the program's Qt library; a static library's
// resources must be registered by hand.
static void initAboutResources() { Q_INIT_RESOURCE(resources); }

namespace notavox {

TAboutBox::TAboutBox(QWidget* parent, UserPrompts* prompts) : QDialog(parent), prompts_(prompts) {
    setObjectName("AboutBox");
    setWindowTitle("Info");
    setFixedSize(664, 453);  // a fixed dialog border
    setModal(true);

    auto* panel = new QFrame(this);
    panel->setObjectName("Panel1");
    panel->setGeometry(8, 8, 648, 397);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(2);
    panel->setAutoFillBackground(true);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, QColor(240, 202, 166));
    panel->setPalette(pal);

    Image1 = new QLabel(panel);
    Image1->setObjectName("Image1");
    Image1->setGeometry(16, 16, 306, 322);
    Image1->setScaledContents(true);
    initAboutResources();
    QFile picture(":/about.jpg");
    if (picture.open(QIODevice::ReadOnly)) Image1->setPixmap(QPixmap::fromImage(decodeJpeg(picture.readAll())));

    auto label = [panel](const char* name, const QString& text, int top, int pointSize, bool bold) {
        auto* l = new QLabel(text, panel);
        l->setObjectName(name);
        l->setGeometry(336, top, 300, pointSize + 14);
        QFont f = l->font();
        f.setPixelSize(pointSize);
        f.setBold(bold);
        l->setFont(f);
        return l;
    };
    Headline = label("Headline", "Notavox 1.0", 24, 24, true);
    DatedLine = label("DatedLine", "Copyright © 2001-XXXX Das Notavox-Team", 72, 12, false);
    ContactLine = label("ContactLine", "Kontakt: notavox@example.org", 100, 12, false);
    MakerLines[0] = label("MakerLine1", "Notavox macht aus aufgenommener Musik", 150, 12, false);
    MakerLines[1] = label("MakerLine2", "eine MIDI-Datei. Gebaut von einem kleinen", 172, 12, false);
    MakerLines[2] = label("MakerLine3", "Team, das Musik und saubere Werkzeuge liebt.", 194, 12, false);

    BitBtnXP1 = new QPushButton("Zur Webseite", panel);
    BitBtnXP1->setObjectName("BitBtnXP1");
    BitBtnXP1->setGeometry(336, 300, 150, 25);
    connect(BitBtnXP1, &QPushButton::clicked, this, [this] { BitBtnXP1Click(); });

    OKButton = new QPushButton("OK", this);
    OKButton->setObjectName("OKButton");
    OKButton->setGeometry(295, 417, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    FormCreate();
}

void TAboutBox::FormCreate() {
    QString text = DatedLine->text();
    const auto at = text.indexOf("XXXX");
    if (at >= 0) text.replace(at, 4, QString::number(QDate::currentDate().year()));
    DatedLine->setText(text);
}

void TAboutBox::BitBtnXP1Click() { prompts_->openUrl(kWebAddress); }

}  // namespace notavox
