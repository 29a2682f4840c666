// The window as a new user meets it: unsaved changes are never thrown away
// without a question, the title tells whether there are any, the keys of a
// text field stay in it, commands wait for a recording, every mnemonic is
// unique on its level and the window fits its screen.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QUrl>

#include "app/MainUnit.h"
#include "app/TempoFUnit.h"
#include "support/Files.h"
#include "support/FormFixture.h"
#include "support/TempDir.h"
#include "support/TestWav.h"
#include "view/NoteView.h"

using namespace notavox;
using notavox::testing::q;
using notavox::testing::readFile;
using notavox::testing::TempDir;

namespace {

using Form = notavox::testing::TestForm<>;

constexpr const char* kTitle = "Velmira Notavox 1.0";

std::string wav(const TempDir& dir, const std::string& name, int frames = 4000) {
    return notavox::testing::writeWavOf(dir.file(name), 8000, false, false, size_t(frames),
                                        [](size_t i) { return uint8_t(128 + (i % 50) - 25); });
}

void open(Form& f, const std::string& name) {
    f.prompts.answerFile(q(name));
    f.m().OpenBtnClick();
}

const notavox::testing::ShownMessage* lastQuestion(const Form& f) {
    return f.prompts.messages.empty() ? nullptr : &f.prompts.messages.back();
}

}  // namespace

TEST(UnsavedChanges, TitleMarksThemAndUndoingBackClearsTheMark) {
    TempDir dir;
    Form f;
    TMainForm& m = f.m();
    EXPECT_EQ(m.windowTitle(), kTitle);
    open(f, wav(dir, "Lied.wav"));
    EXPECT_EQ(m.windowTitle(), QString("Lied.wav - ") + kTitle);
    m.Lauter101->trigger();
    EXPECT_EQ(m.windowTitle(), QString("Lied.wav* - ") + kTitle);
    m.Rckgngig1->trigger();
    EXPECT_EQ(m.windowTitle(), QString("Lied.wav - ") + kTitle);
    m.Wiederherstellen1->trigger();
    EXPECT_TRUE(m.modified());

    // Saved under a new name: the title follows it, the mark is gone.
    f.prompts.answerFile(q(dir.file("Neu.wav")), 2);
    m.Speichern1->trigger();
    EXPECT_EQ(m.windowTitle(), QString("Neu.wav - ") + kTitle);
    EXPECT_FALSE(m.modified());
    // A failed save leaves the mark.
    m.Leiser101->trigger();
    f.prompts.answerFile(q(dir.file("kein/Ordner.wav")), 2);
    m.Speichern1->trigger();
    EXPECT_TRUE(m.modified());
}

TEST(UnsavedChanges, OpeningAnotherFileAsksFirstWhicheverWayItIsOpened) {
    TempDir dir;
    Form f;
    TMainForm& m = f.m();
    const std::string a = wav(dir, "a.wav", 4000), b = wav(dir, "b.wav", 3000), c = wav(dir, "c.wav", 2000);
    open(f, a);
    // Unchanged: no question.
    open(f, b);
    EXPECT_TRUE(f.prompts.messages.empty());
    EXPECT_EQ(m.document.byteCount, 3000);

    // Changed, through the dialog: "Abbrechen" keeps everything.
    m.Rckwrts1->trigger();
    const std::string reversed(reinterpret_cast<const char*>(m.document.sampleData.get()), 3000);
    f.prompts.messageAnswers = {MB_CANCEL};
    open(f, a);
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(f.prompts.messages[0].text,
              "Die Änderungen an \"b.wav\" sind nicht gespeichert.\nSollen sie gespeichert werden?");
    EXPECT_EQ(f.prompts.messages[0].buttons, MB_SAVE | MB_DISCARD | MB_CANCEL);
    EXPECT_EQ(m.document.byteCount, 3000);
    EXPECT_TRUE(m.modified());

    // Dropped on the window: "Speichern" with a cancelled save dialog keeps
    // everything too.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(q(a))});
    const auto dropA = [&] {
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&m, &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&m, &drop);
    };
    f.prompts.messageAnswers = {MB_SAVE};
    f.prompts.cancelFile();
    dropA();
    EXPECT_EQ(f.prompts.messages.size(), 2u);
    EXPECT_EQ(m.document.byteCount, 3000);

    // "Speichern" that succeeds: saved, then opened.
    const std::string saved = dir.file("b-rückwärts.wav");
    f.prompts.messageAnswers = {MB_SAVE};
    f.prompts.answerFile(q(saved), 2);
    dropA();
    EXPECT_EQ(m.document.byteCount, 4000);
    EXPECT_FALSE(m.modified());
    EXPECT_EQ(readFile(saved).substr(44), reversed);

    // The file argument goes the same way; "Verwerfen" drops the change.
    m.Rckwrts1->trigger();
    f.prompts.messageAnswers = {MB_DISCARD};
    m.OpenFile(q(c));
    EXPECT_EQ(f.prompts.messages.size(), 4u);
    EXPECT_EQ(m.document.byteCount, 2000);
    EXPECT_EQ(m.windowTitle(), QString("c.wav - ") + kTitle);

    // Reading a CD track asks before the dialog; "Abbrechen" never shows it.
    m.Rckwrts1->trigger();
    f.prompts.messageAnswers = {MB_CANCEL};
    m.VonMusikCDeinlesen1->trigger();
    EXPECT_EQ(f.prompts.messages.size(), 5u);
    EXPECT_EQ(lastQuestion(f)->caption, "Von Musik-CD einlesen");
    EXPECT_TRUE(f.prompts.dialogsShown.empty());
}

TEST(UnsavedChanges, QuittingAsksToSaveAndTheUsualQuestionStaysOtherwise) {
    TempDir dir;
    Form f;
    TMainForm& m = f.m();
    m.show();
    open(f, wav(dir, "a.wav"));
    // Nothing changed: the program's own question.
    f.prompts.messageAnswers = {MB_CANCEL};
    EXPECT_FALSE(m.close());
    EXPECT_EQ(lastQuestion(f)->text,
              "Hiermit beenden Sie das Programm! Alle nicht gespeicherten Daten gehen verloren!");

    m.Lauter101->trigger();
    f.prompts.messageAnswers = {MB_CANCEL};
    EXPECT_FALSE(m.close());
    EXPECT_EQ(lastQuestion(f)->caption, "Programm beenden");
    EXPECT_EQ(lastQuestion(f)->buttons, MB_SAVE | MB_DISCARD | MB_CANCEL);
    EXPECT_TRUE(m.isVisible());

    // "Speichern", and the save works: the window closes without a second question.
    const size_t asked = f.prompts.messages.size();
    const std::string saved = dir.file("lauter.wav");
    f.prompts.messageAnswers = {MB_SAVE};
    f.prompts.answerFile(q(saved), 2);
    EXPECT_TRUE(m.close());
    EXPECT_EQ(f.prompts.messages.size(), asked + 1);
    EXPECT_EQ(readFile(saved).size(), 44u + 4000u);
}

TEST(TextFields, KeysInATextFieldEditTheFieldAndNeverTheRecording) {
    TempDir dir;
    Form f;
    TMainForm& m = f.m();
    m.show();
    m.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m));
    open(f, wav(dir, "a.wav", 20000));
    m.document.selectionStart = 100;
    m.document.selectionEnd = 300;
    const std::string before = readFile(dir.file("a.wav")).substr(44);

    m.ZoomOutEd->setFocus();
    QWidget* field = QApplication::focusWidget();
    ASSERT_NE(field, nullptr);
    // Ctrl+A and Delete empty the field; what is typed then is the zoom.
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, "7");
    EXPECT_EQ(m.ZoomOutEd->text(), "7");
    for (const Qt::Key key : {Qt::Key_Home, Qt::Key_End, Qt::Key_Escape, Qt::Key_Space}) QTest::keyClick(field, key);
    QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(m.document.byteCount, 20000);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.document.sampleData.get()), 20000), before);
    EXPECT_EQ(m.document.selectionStart, 100);
    EXPECT_EQ(m.document.selectionEnd, 300);
    EXPECT_FALSE(m.playing);
    EXPECT_TRUE(f.sound.blocks.empty());

    // The file commands still reach the window.
    QTest::keyClick(field, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(f.prompts.openRequests.size(), 2u);
}

TEST(Commands, ThoseThatNeedARecordingWaitForOne) {
    TempDir dir;
    Form f;
    TMainForm& m = f.m();
    const std::vector<QWidget*> buttons = {m.PlayBtn, m.SaveBtn, m.Button1, m.Button2, m.CropToSelection,
                                           m.CutSelectionBtn, m.ChangeFormat, m.ZoomSel, m.ZoomOutFull};
    const std::vector<QAction*> items = {m.Speichern1, m.SpeichernalsMID1, m.SpeichernalsMIDgenaueErkennung1,
                                         m.Effekte1->menuAction(), m.Sampleformatndern1, m.Notenerkennen1,
                                         m.AbspielenAnhalten1, m.Allesauswhlen1, m.DieAuswahlwegschneiden1};
    for (QWidget* w : buttons) EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    for (QAction* a : items) EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    EXPECT_TRUE(m.OpenBtn->isEnabled());
    EXPECT_TRUE(m.MusikCDBtn->isEnabled());

    open(f, wav(dir, "a.wav", 20000));
    for (QWidget* w : buttons) EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    for (QAction* a : items) EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();

    // The notes found and the status text belong to this recording only.
    m.GenaueErkennung1->setChecked(false);
    m.Notenerkennen1->trigger();
    EXPECT_FALSE(m.StatusBar1->panelText(0).isEmpty());
    open(f, wav(dir, "b.wav", 3000));
    EXPECT_TRUE(m.StatusBar1->panelText(0).isEmpty());
    EXPECT_FALSE(m.NoteView1->hasNotes());
}

namespace {

// The letter after the single '&' of a caption, upper case; 0 for none.
QChar mnemonic(const QString& caption) {
    for (int i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&') continue;
        if (caption[i + 1] == '&') {
            ++i;
            continue;
        }
        return caption[i + 1].toUpper();
    }
    return QChar();
}

// Every mnemonic of the controls of `window` that Alt reaches, with what it
// belongs to; the menus' items are a level of their own.
std::vector<std::pair<QChar, QString>> windowMnemonics(QWidget& window) {
    std::vector<std::pair<QChar, QString>> found;
    auto add = [&](const QString& caption) {
        if (const QChar c = mnemonic(caption); !c.isNull()) found.emplace_back(c, caption);
    };
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (w->window() != &window) continue;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) add(b->text());
        if (auto* l = qobject_cast<QLabel*>(w); l && l->buddy()) add(l->text());
        if (auto* g = qobject_cast<QGroupBox*>(w)) add(g->title());
        if (auto* t = qobject_cast<QTabWidget*>(w))
            for (int i = 0; i < t->count(); ++i) add(t->tabText(i));
        if (auto* bar = qobject_cast<QMenuBar*>(w))
            for (QAction* a : bar->actions()) add(a->text());
    }
    return found;
}

std::string clashes(const std::vector<std::pair<QChar, QString>>& found) {
    std::string out;
    for (size_t i = 0; i < found.size(); ++i)
        for (size_t j = i + 1; j < found.size(); ++j)
            if (found[i].first == found[j].first)
                out += (found[i].second + " / " + found[j].second + "\n").toStdString();
    return out;
}

}  // namespace

TEST(Mnemonics, UniqueInEveryMenuLevelAndDialog) {
    Form f;
    TMainForm& m = f.m();
    EXPECT_EQ(clashes(windowMnemonics(m)), "") << "the window and its menu bar";
    std::vector<QMenu*> menus;
    for (QAction* title : m.MainMenu1->actions())
        if (title->menu()) menus.push_back(title->menu());
    for (size_t k = 0; k < menus.size(); ++k) {
        std::vector<std::pair<QChar, QString>> found;
        for (QAction* a : menus[k]->actions()) {
            if (a->menu()) menus.push_back(a->menu());
            if (const QChar c = mnemonic(a->text()); !c.isNull()) found.emplace_back(c, a->text());
        }
        EXPECT_EQ(clashes(found), "") << menus[k]->title().toStdString();
    }
    TTempoForm tempo(RhythmAnalysis{}, &m);
    for (QDialog* d : m.findChildren<QDialog*>())
        EXPECT_EQ(clashes(windowMnemonics(*d)), "") << d->objectName().toStdString();
    // Alt+E is the menu "Effekte", Alt+F no longer "Sampleformat ändern...".
    for (const auto& [c, caption] : windowMnemonics(m)) {
        if (c == QChar(u'E')) {
            EXPECT_EQ(caption, "&Effekte");
        }
        EXPECT_FALSE(c == 'F' && caption.contains("Sampleformat"));
    }
}

TEST(Placement, CentredOnTheScreenAndNeverLargerThanIt) {
    Form f;
    TMainForm& m = f.m();
    const QRect screen = m.screen()->availableGeometry();
    EXPECT_EQ(m.size(), QSize(TMainForm::kWidth, TMainForm::kHeight));
    EXPECT_EQ(m.frameGeometry().center(), screen.center());

    m.PlaceOnScreen(QRect(0, 0, 800, 600));
    EXPECT_TRUE(QRect(0, 0, 800, 600).contains(m.frameGeometry()));
    EXPECT_EQ(m.frameGeometry().center(), QPoint(399, 299));
    // A screen smaller than the window: as large as it, on it.
    m.PlaceOnScreen(QRect(100, 50, 640, 400));
    EXPECT_EQ(m.frameGeometry(), QRect(100, 50, 640, 400));
}
