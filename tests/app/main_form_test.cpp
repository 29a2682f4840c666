#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>

#include "app/AboutBoxUnit.h"
#include "app/MainUnit.h"
#include "support/FakePrompts.h"
#include "support/FormFixture.h"
#include "support/FakeSoundDevice.h"

using namespace notavox;
using notavox::testing::FakePrompts;

namespace {

using Form = notavox::testing::TestForm<>;

// A caption without its mnemonic marker.
QString plain(QString caption) { return caption.remove('&'); }

QStringList menuLayout(QMenu* menu) {
    QStringList l;
    for (QAction* a : menu->actions()) l << (a->isSeparator() ? QString("-") : plain(a->text()));
    return l;
}

}  // namespace

TEST(MainForm, StartsWithCaptionGeometryAndSelections) {
    Form f;
    TMainForm& m = *f.form;
    EXPECT_EQ(m.windowTitle(), "Velmira Notavox 1.0");
    EXPECT_EQ(m.size(), QSize(696, 480));
    EXPECT_EQ(m.mp3format->currentText(), "44100");
    EXPECT_EQ(m.BitRate->currentText(), "128");
    EXPECT_FALSE(m.mp3format->isEditable());
    QStringList rates, bits;
    for (int i = 0; i < m.mp3format->count(); ++i) rates << m.mp3format->itemText(i);
    for (int i = 0; i < m.BitRate->count(); ++i) bits << m.BitRate->itemText(i);
    EXPECT_EQ(rates.join(","), "48000,44100,32000,24000,22050,16000,11025");
    EXPECT_EQ(bits.join(","), "8,16,24,32,40,48,56,64,80,96,112,128,144,160");
    EXPECT_EQ(m.GroupBox1->title(), "MP3 Ausgabe");
    // The unit beside the rate list: its entries are Hz (44100), not kHz.
    QStringList units;
    for (const QLabel* l : m.GroupBox1->findChildren<QLabel*>()) units << l->text();
    EXPECT_TRUE(units.contains("Hz")) << units.join("|").toStdString();
    EXPECT_FALSE(units.contains("kHz"));
    EXPECT_EQ(m.PageControl1->count(), 1);
    EXPECT_EQ(m.PageControl1->tabText(0), "Datei zurechtschneiden");
    EXPECT_EQ(m.Panel2->height(), 105);
    EXPECT_EQ(m.ZoomOutEd->value(), 100);
    EXPECT_EQ(m.ZoomOutEd->minimum(), 1);
    EXPECT_EQ(m.ZoomOutEd->maximum(), 1000000);
    EXPECT_EQ(m.ZoomOutEd->singleStep(), 10);
    EXPECT_FALSE(m.StopBTN->isEnabled());
    EXPECT_TRUE(m.SchleifeCheck->isChecked());
    EXPECT_EQ(m.RxSlider1->maximum(), 100);
    EXPECT_EQ(m.document.byteCount, 0);
    EXPECT_EQ(m.document.sampleRate, 0);
    EXPECT_EQ(m.progressPercent, 0);
    EXPECT_FALSE(m.stopRequested());
    for (auto* b : {m.OpenBtn, m.SaveBtn, m.Button1, m.MusikCDBtn})
        EXPECT_FALSE(b->text().isEmpty());
    EXPECT_EQ(plain(m.OpenBtn->text()), "Öffnen...");
    EXPECT_EQ(plain(m.SaveBtn->text()), "Speichern als WAV/MP3...");
    EXPECT_EQ(plain(m.Button1->text()), "Speichern als MID...");
    EXPECT_EQ(plain(m.MusikCDBtn->text()), "Von Musik-CD einlesen...");
}

TEST(MainForm, MenuMatchesTheCommandTable) {
    Form f;
    TMainForm& m = *f.form;
    QStringList titles;
    for (QAction* a : m.MainMenu1->actions()) titles << plain(a->text());
    EXPECT_EQ(titles.join("|"), "Datei|Bearbeiten|Ansicht|Effekte|Wiedergabe|Hilfe");
    EXPECT_EQ(menuLayout(m.Datei1).join("|"),
              "Öffnen...|Speichern als WAV/MP3...|Speichern als MID...|Speichern als MID (genaue Erkennung)...|"
              "Speichern als Notenblatt (MusicXML)...|-|"
              "Von Musik-CD einlesen...|-|Beenden");
    EXPECT_EQ(menuLayout(m.Bearbeiten1).join("|"),
              "Rückgängig|Wiederherstellen|-|Zur Auswahl zurechtschneiden|Die Auswahl wegschneiden|-|"
              "Alles auswählen|Nichts auswählen|-|Auswahl quantisieren|-|Sampleformat ändern...");
    EXPECT_EQ(menuLayout(m.Ansicht1).join("|"),
              "Ganze Datei|Voller Zoom|Zoom auf Auswahl|-|Kleiner|Größer|-|Zum Anfang|Zum Ende|-|"
              "Noten anzeigen|Tonumfang einpassen|Noten erkennen|Genaue Erkennung");
    EXPECT_EQ(menuLayout(m.Effekte1).join("|"),
              "Echo...|Weich einblenden|Weich ausblenden|Ende auf Anfang überblenden|-|Maximale Lautstärke|"
              "Lauter 10%|Leiser 10%|-|Rückwärts|-|Schneller 10%|Langsamer 10%");
    EXPECT_EQ(menuLayout(m.Wiedergabe1).join("|"), "Abspielen/Anhalten");
    EXPECT_EQ(menuLayout(m.Hilfe1).join("|"), "Über das Programm...");
    EXPECT_EQ(m.findChild<QAction*>("Rckwrts1"), m.Rckwrts1);
    EXPECT_EQ(plain(m.findChild<QAction*>("Lauter101")->text()), "Lauter 10%");
}

TEST(MainForm, CloseAsksEveryTimeAndCancelKeepsTheWindow) {
    Form f;
    TMainForm& m = *f.form;
    m.show();
    f.prompts.messageAnswers = {MB_CANCEL};
    EXPECT_FALSE(m.close());
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    const auto& q = f.prompts.messages[0];
    EXPECT_EQ(q.text, "Hiermit beenden Sie das Programm! Alle nicht gespeicherten Daten gehen verloren!");
    EXPECT_EQ(q.caption, "Programm beenden");
    EXPECT_EQ(q.icon, MsgIcon::Information);
    EXPECT_EQ(q.buttons, MB_OK | MB_CANCEL);
    EXPECT_TRUE(m.isVisible());
    EXPECT_FALSE(m.stopRequested());

    f.prompts.messageAnswers = {MB_OK};
    m.Beenden1->trigger();
    EXPECT_EQ(f.prompts.messages.size(), 2u);
    EXPECT_FALSE(m.isVisible());
    EXPECT_TRUE(m.stopRequested());
}

TEST(MainForm, ProgressArithmeticAndColours) {
    Form f;
    TMainForm& m = *f.form;
    m.show();
    QImage img(600, 30, QImage::Format_RGB32);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        m.progressPercent = 33;
        m.StatusBar1DrawPanel(p, 1, TRect{100, 2, 150, 20});
    }
    EXPECT_EQ(m.progressRect.left, 100);
    EXPECT_EQ(m.progressRect.right, 150);
    // 50 × 33 div 100 = 16 navy columns, then the button face.
    EXPECT_EQ(img.pixelColor(100, 10), QColor(0, 0, 128));
    EXPECT_EQ(img.pixelColor(115, 10), QColor(0, 0, 128));
    EXPECT_NE(img.pixelColor(116, 10), QColor(0, 0, 128));
    EXPECT_EQ(img.pixelColor(149, 10), m.StatusBar1->palette().color(QPalette::Button));
    EXPECT_EQ(img.pixelColor(150, 10), QColor(Qt::white));

    m.progressPercent = 0;
    m.SetProStatus(20);
    m.SetProStatus(50);
    EXPECT_EQ(m.progressPercent, 50);
    m.SetProStatus(101);
    m.SetProStatus(-1);
    EXPECT_EQ(m.progressPercent, 50);
    m.SetProStatus(10);
    EXPECT_EQ(m.progressPercent, 10);
}

TEST(MainForm, ProgressBarIsOnScreenWhileTheCallerBlocks) {
    Form f;
    TMainForm& m = *f.form;
    m.show();
    QApplication::processEvents();
    m.StatusBar1->repaint();  // the panel has been drawn once
    const TRect r = m.progressRect;
    ASSERT_EQ(r.right - r.left, TStatusBar::kPanel1Width);
    m.SetProStatus(60);  // no event loop turn in between
    const QImage shot = m.StatusBar1->grab().toImage();
    const int y = (r.top + r.bottom) / 2;
    EXPECT_EQ(shot.pixelColor(r.left + 29, y), QColor(0, 0, 128));
    EXPECT_NE(shot.pixelColor(r.left + 31, y), QColor(0, 0, 128));
    m.SetProStatus(0);
    EXPECT_NE(m.StatusBar1->grab().toImage().pixelColor(r.left + 1, y), QColor(0, 0, 128));
}

TEST(MainForm, AboutBoxShowsTheYearAndOpensTheWebSite) {
    Form f;
    TMainForm& m = *f.form;
    f.prompts.dialogAnswers.push_back([](QDialog& d) {
        auto* box = dynamic_cast<TAboutBox*>(&d);
        EXPECT_NE(box, nullptr);
        if (!box) return int(QDialog::Rejected);
        EXPECT_EQ(box->windowTitle(), "Info");
        EXPECT_EQ(box->size(), QSize(664, 453));
        EXPECT_FALSE(box->DatedLine->text().contains("XXXX"));
        EXPECT_TRUE(box->DatedLine->text().contains(QString::number(QDate::currentDate().year())));
        EXPECT_FALSE(box->Image1->pixmap().isNull());
        EXPECT_EQ(box->Image1->pixmap().size(), QSize(306, 322));
        box->BitBtnXP1->click();
        return int(QDialog::Accepted);
    });
    m.berdasProgramm1->trigger();
    ASSERT_EQ(f.prompts.dialogsShown.size(), 1u);
    ASSERT_EQ(f.prompts.urlsOpened.size(), 1u);
    EXPECT_EQ(f.prompts.urlsOpened[0], TAboutBox::kWebAddress);
}
