// The editor's habits in the real main window: undo and redo of every kind
// of command, the keys wherever the focus is, dropped files, the mouse
// wheel, the range drawing of a zoomed-out view, the information panel and
// the window's smallest size.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QUrl>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "app/EchoFUnit.h"
#include "app/MainUnit.h"
#include "app/SampleFormatFUnit.h"
#include "audio/WavFile.h"
#include "support/FormFixture.h"
#include "support/TempDir.h"
#include "view/WaveGeometry.h"

using namespace notavox;

namespace {

const QRgb kTrace = QColor(0, 255, 0).rgb();

struct Form : notavox::testing::TestForm<> {
    Form() {
        form->show();
        form->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    // 16-bit recording, shown whole as after opening a file.
    void load16(const std::vector<int16_t>& v, bool stereo, int32_t rate = 8000) {
        SampleBlock b = allocateBlock(v.size() * 2);
        std::memcpy(b.get(), v.data(), v.size() * 2);
        m().document.replace(std::move(b), int32_t(v.size() * 2), rate, stereo, true);
        m().RecordingOpened(QString());
        m().ZoomOutFullClick();
        m().PaintBox1Paint();
    }
    std::vector<uint8_t> bytes() const {
        const AudioDocument& d = form->document;
        return d.sampleData ? std::vector<uint8_t>(d.sampleData.get(), d.sampleData.get() + d.byteCount)
                            : std::vector<uint8_t>();
    }
    // Answers the time-span dialog with its default.
    void acceptTimeSpan() {
        prompts.dialogAnswers.push_back([](QDialog&) { return int(QDialog::Accepted); });
    }
};

std::vector<int16_t> tone(int frames, bool stereo, double hz = 440, int rate = 8000, double amp = 12000) {
    std::vector<int16_t> v;
    for (int i = 0; i < frames; ++i) {
        const auto s = int16_t(std::lround(amp * std::sin(2 * M_PI * hz * i / rate)));
        v.push_back(s);
        if (stereo) v.push_back(int16_t(-s / 2));
    }
    return v;
}

struct State {
    std::vector<uint8_t> bytes;
    int32_t start, end, rate;
    bool stereo, sixteenBit;
    bool operator==(const State&) const = default;
};
State stateOf(Form& f) {
    const AudioDocument& d = f.m().document;
    return State{f.bytes(), d.selectionStart, d.selectionEnd, d.sampleRate, d.stereo, d.sixteenBit};
}

}  // namespace

TEST(Editor, UndoAndRedoOfEveryKindOfCommandRestoreBytesFormatAndSelection) {
    Form f;
    TMainForm& m = f.m();
    struct Case {
        const char* name;
        std::function<void()> run;
    };
    const std::vector<Case> cases = {
        {"Echo", [&] {
             f.prompts.dialogAnswers.push_back([](QDialog& d) {
                 static_cast<TEchoForm&>(d).ZeitEd->setValue(0.01);
                 return int(QDialog::Accepted);
             });
             m.Echo1->trigger();
         }},
        {"Weich einblenden", [&] { f.acceptTimeSpan(); m.Weicheinblenden1->trigger(); }},
        {"Weich ausblenden", [&] {
             // shorter than the selection's end is from the start: a longer span does nothing
             f.prompts.dialogAnswers.push_back([](QDialog& d) {
                 static_cast<TEchoForm&>(d).ZeitEd->setValue(0.1);
                 return int(QDialog::Accepted);
             });
             m.Weichausblenden1->trigger();
         }},
        {"Ende auf Anfang überblenden", [&] {
             f.prompts.dialogAnswers.push_back([](QDialog& d) {
                 static_cast<TEchoForm&>(d).ZeitEd->setValue(0.1);
                 return int(QDialog::Accepted);
             });
             m.EndeaufAnfangberblenden1->trigger();
         }},
        {"Maximale Lautstärke", [&] { m.MaximaleLautstrke1->trigger(); }},
        {"Lauter 10%", [&] { m.Lauter101->trigger(); }},
        {"Leiser 10%", [&] { m.Leiser101->trigger(); }},
        {"Rückwärts", [&] { m.Rckwrts1->trigger(); }},
        {"Schneller 10%", [&] { m.Schneller101->trigger(); }},
        {"Langsamer 10%", [&] { m.Langsamer101->trigger(); }},
        {"Zur Auswahl zurechtschneiden", [&] { m.ZurAuswahlzurechtschneiden1->trigger(); }},
        {"Die Auswahl wegschneiden", [&] { m.DieAuswahlwegschneiden1->trigger(); }},
        {"Sampleformat ändern", [&] {
             f.prompts.dialogAnswers.push_back([](QDialog& d) {
                 static_cast<TSampleFormat&>(d).setTarget(SampleFormatTarget{false, false, 11025});
                 return int(QDialog::Accepted);
             });
             m.Sampleformatndern1->trigger();
         }},
        {"Von Musik-CD einlesen", [&] {
             // What the track dialog does to the recording when it reads a track.
             f.prompts.dialogAnswers.push_back([&](QDialog&) {
                 SampleBlock b = allocateBlock(400);
                 std::memset(b.get(), 9, 400);
                 m.document.replace(std::move(b), 400, 44100, true, true);
                 return int(QDialog::Accepted);
             });
             m.VonMusikCDeinlesen1->trigger();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // 437 Hz: a tone of 440 Hz is the same backwards over frames 600..1500
        f.load16(tone(3000, true, 437), true);
        m.document.selectionStart = 1201;  // frames 600..1500
        m.document.selectionEnd = 3001;
        const State before = stateOf(f);
        EXPECT_FALSE(m.Rckgngig1->isEnabled());
        c.run();
        const State after = stateOf(f);
        ASSERT_NE(after, before);
        ASSERT_TRUE(m.Rckgngig1->isEnabled());
        EXPECT_EQ(m.Rckgngig1->text().remove('&'), QString("Rückgängig: ") + c.name);
        m.Rckgngig1->trigger();
        EXPECT_EQ(stateOf(f), before);
        EXPECT_EQ(m.Wiederherstellen1->text().remove('&'), QString("Wiederherstellen: ") + c.name);
        m.Wiederherstellen1->trigger();
        EXPECT_EQ(stateOf(f), after);
        m.Rckgngig1->trigger();
        EXPECT_EQ(stateOf(f), before);
    }
}

TEST(Editor, OpeningAFileStartsANewHistoryAndTheHistoryKeepsToItsLimit) {
    Form f;
    TMainForm& m = f.m();
    f.load16(tone(10000, false), false);
    m.undoHistory.setLimit(45000);  // two copies of the whole recording
    for (int k = 0; k < 4; ++k) m.Lauter101->trigger();
    EXPECT_EQ(m.undoHistory.undoCount(), 2u);
    EXPECT_LE(m.undoHistory.memoryUsed(), 45000u);
    m.undoHistory.setLimit(1000);  // smaller than one copy: the edit still runs
    const auto before = f.bytes();
    m.Leiser101->trigger();
    EXPECT_NE(f.bytes(), before);
    EXPECT_FALSE(m.Rckgngig1->isEnabled());

    notavox::testing::TempDir dir;
    const std::vector<int16_t> v = tone(500, false);
    ASSERT_TRUE(WriteWAVFile(dir.file("a.wav"), reinterpret_cast<const uint8_t*>(v.data()), false, true, 8000, 1000));
    m.undoHistory.setLimit(1 << 20);
    m.Lauter101->trigger();
    ASSERT_TRUE(m.Rckgngig1->isEnabled());
    f.prompts.answerFile(QString::fromStdString(dir.file("a.wav")));
    f.prompts.messageAnswers.push_back(MB_DISCARD);  // the louder recording
    m.ffnen1->trigger();
    EXPECT_EQ(m.document.byteCount, 1000);
    EXPECT_FALSE(m.Rckgngig1->isEnabled());
    EXPECT_EQ(m.Rckgngig1->text().remove('&'), "Rückgängig");
}

TEST(Editor, EveryShortcutReachesItsCommandWhateverHasTheFocus) {
    Form f;
    TMainForm& m = f.m();
    m.SchleifeCheck->setChecked(false);
    // Text and number fields keep the keys for themselves (KeysInATextFieldEditTheField).
    const std::vector<QWidget*> focus = {m.PlayBtn, m.SchleifeCheck, m.mp3format, m.RxSlider1, m.PaintBox1,
                                         m.OpenBtn};
    auto press = [&](QWidget* w, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        w->setFocus();
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : w, key, mods);
    };
    for (QWidget* w : focus) {
        SCOPED_TRACE(w->objectName().toStdString());
        f.load16(tone(20000, false), false);

        m.document.selectionStart = 100;
        m.document.selectionEnd = 300;
        press(w, Qt::Key_A, Qt::ControlModifier);
        EXPECT_EQ(m.document.selectionLow(), 0);
        EXPECT_EQ(m.document.selectionHigh(), 20000);
        press(w, Qt::Key_Escape);
        EXPECT_FALSE(m.document.hasSelection());

        m.document.selectionStart = 100;
        m.document.selectionEnd = 300;
        press(w, Qt::Key_Delete);
        EXPECT_EQ(m.document.byteCount, 2 * 19800);
        press(w, Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(m.document.byteCount, 2 * 20000);
        press(w, Qt::Key_Y, Qt::ControlModifier);
        EXPECT_EQ(m.document.byteCount, 2 * 19800);
        press(w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);  // nothing left to redo
        press(w, Qt::Key_Z, Qt::ControlModifier);
        press(w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(m.document.byteCount, 2 * 19800);

        const int32_t z = m.PaintBox1->zoom();
        press(w, Qt::Key_Plus, Qt::ControlModifier);
        EXPECT_LT(m.PaintBox1->zoom(), z);
        press(w, Qt::Key_Minus, Qt::ControlModifier);
        press(w, Qt::Key_Minus, Qt::ControlModifier);
        EXPECT_GT(m.PaintBox1->zoom(), z);
        m.PaintBox1->setZoom(1);
        press(w, Qt::Key_End);
        EXPECT_EQ(m.RxSlider1->value(), m.RxSlider1->maximum());
        press(w, Qt::Key_Home);
        EXPECT_EQ(m.RxSlider1->value(), 0);

        const size_t played = f.sound.blocks.size();
        const bool loop = m.SchleifeCheck->isChecked();
        press(w, Qt::Key_Space);
        EXPECT_GT(f.sound.blocks.size(), played) << "Space plays";
        EXPECT_EQ(m.SchleifeCheck->isChecked(), loop) << "Space never ticks the loop box";

        const size_t opens = f.prompts.openRequests.size();
        const size_t saves = f.prompts.saveRequests.size();
        press(w, Qt::Key_O, Qt::ControlModifier);
        EXPECT_EQ(f.prompts.openRequests.size(), opens + 1);
        press(w, Qt::Key_S, Qt::ControlModifier);
        ASSERT_EQ(f.prompts.saveRequests.size(), saves + 1);
        EXPECT_TRUE(f.prompts.saveRequests.back().filter.contains("WAV"));
        press(w, Qt::Key_M, Qt::ControlModifier);
        ASSERT_EQ(f.prompts.saveRequests.size(), saves + 2);
        EXPECT_TRUE(f.prompts.saveRequests.back().filter.contains("MIDI"));

        const size_t shown = f.prompts.messages.size();
        f.prompts.messageAnswers.push_back(MB_CANCEL);
        press(w, Qt::Key_Q, Qt::ControlModifier);
        ASSERT_EQ(f.prompts.messages.size(), shown + 1);
        EXPECT_EQ(f.prompts.messages.back().caption, "Programm beenden");
        EXPECT_TRUE(m.isVisible());
    }
}

TEST(Editor, SpaceStopsAPlaybackThatRuns) {
    Form f;
    TMainForm& m = f.m();
    f.load16(tone(8000, false), false);
    ASSERT_TRUE(m.SchleifeCheck->isChecked());  // it would play forever
    f.sound.onWrite = [&](int index) {
        if (index == 5) QTest::keyClick(m.SchleifeCheck, Qt::Key_Space);
    };
    m.SchleifeCheck->setFocus();
    QTest::keyClick(m.SchleifeCheck, Qt::Key_Space);
    EXPECT_FALSE(m.playing);
    EXPECT_TRUE(m.SchleifeCheck->isChecked());
    EXPECT_GE(f.sound.blocks.size(), 5u);
}

TEST(Editor, MenusShowMnemonicsAndShortcuts) {
    Form f;
    TMainForm& m = f.m();
    QStringList titles;
    for (QAction* a : m.MainMenu1->actions()) titles << a->text();
    EXPECT_EQ(titles.join(","), "&Datei,&Bearbeiten,&Ansicht,&Effekte,&Wiedergabe,&Hilfe");
    for (QAction* title : m.MainMenu1->actions())
        for (QAction* a : title->menu()->actions())
            if (!a->isSeparator()) {
                EXPECT_TRUE(a->text().contains('&')) << a->text().toStdString();
            }
    for (QPushButton* b : m.findChildren<QPushButton*>())
        if (b->window() == &m) {
            EXPECT_TRUE(b->text().contains('&')) << b->text().toStdString();
        }
    const std::pair<QAction*, const char*> shortcuts[] = {
        {m.ffnen1, "Ctrl+O"},               {m.Speichern1, "Ctrl+S"},
        {m.SpeichernalsMID1, "Ctrl+M"},     {m.Beenden1, "Ctrl+Q"},
        {m.Rckgngig1, "Ctrl+Z"},            {m.Wiederherstellen1, "Ctrl+Y"},
        {m.DieAuswahlwegschneiden1, "Del"}, {m.Allesauswhlen1, "Ctrl+A"},
        {m.Nichtsauswhlen1, "Esc"},         {m.Grer1, "Ctrl++"},
        {m.Kleiner1, "Ctrl+-"},             {m.ZumAnfang1, "Home"},
        {m.ZumEnde1, "End"},                {m.AbspielenAnhalten1, "Space"},
    };
    for (const auto& [action, keys] : shortcuts)
        EXPECT_EQ(action->shortcut().toString(QKeySequence::PortableText), keys) << action->objectName().toStdString();
    EXPECT_EQ(m.Wiederherstellen1->shortcuts().value(1).toString(QKeySequence::PortableText), "Ctrl+Shift+Z");
    // "Speichern als MID..." in "Datei", after the WAV/MP3 command.
    const QList<QAction*> datei = m.Datei1->actions();
    EXPECT_EQ(datei.indexOf(m.SpeichernalsMID1), datei.indexOf(m.Speichern1) + 1);
    EXPECT_EQ(m.Bearbeiten1->actions().indexOf(m.Rckgngig1), 0);
    EXPECT_EQ(m.Bearbeiten1->actions().indexOf(m.Wiederherstellen1), 1);
}

TEST(Editor, ADroppedFileIsOpenedAndDialogsStartInTheFolderUsedLast) {
    Form f;
    TMainForm& m = f.m();
    notavox::testing::TempDir dir;
    const std::vector<int16_t> v = tone(800, true);
    const QString wav = QString::fromStdString(dir.file("Aufnahme.WAV"));
    ASSERT_TRUE(WriteWAVFile(wav.toStdString(), reinterpret_cast<const uint8_t*>(v.data()), true, true, 8000, 3200));

    QMimeData text;
    text.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.file("notes.txt")))});
    QDragEnterEvent refused(QPoint(50, 50), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&m, &refused);
    EXPECT_FALSE(refused.isAccepted());

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(wav)});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&m, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&m, &drop);
    EXPECT_EQ(m.document.byteCount, 3200);
    EXPECT_TRUE(m.document.stereo);
    EXPECT_EQ(f.bytes(), std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(v.data()),
                                              reinterpret_cast<const uint8_t*>(v.data()) + 3200));

    // The folder of the dropped file is where the dialogs start now.
    m.OpenBtnClick();
    m.SaveBtnClick();
    m.Button1Click();
    ASSERT_EQ(f.prompts.openRequests.size(), 1u);
    ASSERT_EQ(f.prompts.saveRequests.size(), 2u);
    const QString folder = QString::fromStdString(dir.path());
    EXPECT_EQ(f.prompts.openRequests[0].initialDir, folder);
    EXPECT_EQ(f.prompts.saveRequests[0].initialDir, folder);
    EXPECT_EQ(f.prompts.saveRequests[1].initialDir, folder);
}

TEST(Editor, FirstDialogsStartWhereTheyAlwaysDid) {
    Form f;
    TMainForm& m = f.m();
    m.OpenBtnClick();
    ASSERT_EQ(f.prompts.openRequests.size(), 1u);
    EXPECT_EQ(f.prompts.openRequests[0].initialDir, QCoreApplication::applicationDirPath());
}

TEST(Editor, WheelScrollsAndCtrlWheelZoomsAroundThePointer) {
    Form f;
    TMainForm& m = f.m();
    f.load16(tone(200000, false), false);
    m.PaintBox1->setZoom(100);
    m.RxSlider1->setValue(500);
    const auto wheel = [&](int delta, Qt::KeyboardModifiers mods, int x = 100) {
        QWheelEvent e(QPointF(x, 20), m.PaintBox1->mapToGlobal(QPointF(x, 20)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, mods, Qt::NoScrollPhase, false);
        QApplication::sendEvent(m.PaintBox1, &e);
    };
    const int step = std::max(1, m.PaintBox1->width() / 10);
    wheel(-120, Qt::NoModifier);
    EXPECT_EQ(m.RxSlider1->value(), 500 + step);
    wheel(240, Qt::NoModifier);
    EXPECT_EQ(m.RxSlider1->value(), 500 - step);
    wheel(60, Qt::NoModifier);  // half a notch: nothing yet
    EXPECT_EQ(m.RxSlider1->value(), 500 - step);
    wheel(-60, Qt::NoModifier);
    EXPECT_EQ(m.RxSlider1->value(), 500 - step);

    m.RxSlider1->setValue(500);
    const int64_t under = ColumnSampleIndex(m.PaintBox1->zoom(), m.RxSlider1->value(), 100);
    wheel(120, Qt::ControlModifier);
    EXPECT_EQ(m.PaintBox1->zoom(), 67);
    EXPECT_LE(std::llabs(ColumnSampleIndex(67, m.RxSlider1->value(), 100) - under), 67);
    wheel(-240, Qt::ControlModifier);
    EXPECT_EQ(m.PaintBox1->zoom(), 150);  // 67 * 1.5 = 100.5 rounds to 100, then 150
    EXPECT_LE(std::llabs(ColumnSampleIndex(150, m.RxSlider1->value(), 100) - under), 150);
}

TEST(Editor, ZoomButtonsKeepTheMiddleOfTheView) {
    Form f;
    TMainForm& m = f.m();
    f.load16(tone(300000, false), false);
    m.PaintBox1->setZoom(100);
    m.RxSlider1->setValue(1000);
    const int half = m.PaintBox1->width() / 2;
    const int64_t middle = ColumnSampleIndex(100, 1000, half);
    m.ZoomGroesserBtn->click();
    EXPECT_EQ(m.PaintBox1->zoom(), 67);
    EXPECT_LE(std::llabs(ColumnSampleIndex(67, m.RxSlider1->value(), half) - middle), 67);
    m.ZoomKleinerBtn->click();
    m.ZoomKleinerBtn->click();
    EXPECT_LE(std::llabs(ColumnSampleIndex(m.PaintBox1->zoom(), m.RxSlider1->value(), half) - middle),
              m.PaintBox1->zoom());
}

TEST(Editor, ZoomedOutEveryColumnSpansTheTonesPeaks) {
    Form f;
    TMainForm& m = f.m();
    // 440 Hz at 44100 Hz: a period is about 100 sample indices.
    const int amp = 20000;
    f.load16(tone(200000, false, 440, 44100, amp), false, 44100);
    const int h = m.PaintBox1->height();
    const int w = m.PaintBox1->width();
    const int top = TraceY16(-amp * 98 / 100, h);
    const int bottom = TraceY16(amp * 98 / 100, h);
    for (int zoom : {128, 333, 1000, m.PaintBox1->zoom()}) {
        SCOPED_TRACE(zoom);
        m.PaintBox1->setZoom(zoom);
        m.RxSlider1->setValue(3);
        m.PaintBox1->render();
        const QImage& img = m.PaintBox1->bitmap();
        const int columns = int(std::min<int64_t>(w, 200000 / zoom - 3));
        for (int x = 0; x < columns; ++x) {
            ASSERT_EQ(img.pixel(x, top), kTrace) << "column " << x;
            ASSERT_EQ(img.pixel(x, bottom), kTrace) << "column " << x;
            ASSERT_EQ(img.pixel(x, (top + bottom) / 2), kTrace) << "a solid band, column " << x;
        }
    }
    // At one sample per column the trace is the line through one value per
    // column, as it always was.
    m.PaintBox1->setZoom(1);
    m.RxSlider1->setValue(0);
    m.PaintBox1->render();
    int16_t s;
    std::memcpy(&s, m.document.sampleData.get() + 2 * 40, 2);
    EXPECT_EQ(m.PaintBox1->bitmap().pixel(40, TraceY16(s, h)), kTrace);
}

TEST(Editor, InformationPanelShowsFormatLengthAndTheSelectionWhileDragging) {
    Form f;
    TMainForm& m = f.m();
    EXPECT_EQ(m.StatusBar1->panelText(2), "");
    f.load16(std::vector<int16_t>(2 * 44100 * 2, 0), true, 44100);
    EXPECT_EQ(m.StatusBar1->panelText(2), "44100 Hz, 16 Bit, Stereo \u2013 0:02.000\nKeine Auswahl");
    m.PaintBox1->setZoom(1000);
    m.RxSlider1->setValue(0);
    QTest::mousePress(m.PaintBox1, Qt::LeftButton, Qt::NoModifier, QPoint(10, 20));
    QMouseEvent move(QEvent::MouseMove, QPointF(98, 20), m.PaintBox1->mapToGlobal(QPointF(98, 20)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m.PaintBox1, &move);
    // 10 * 1000 / 2 frames = 0.113 s, 98 * 1000 / 2 = 1.111 s
    EXPECT_EQ(m.StatusBar1->panelText(2),
              "44100 Hz, 16 Bit, Stereo \u2013 0:02.000\nAuswahl 0:00.113\u20130:01.111 (0:00.998)");
    QTest::mouseRelease(m.PaintBox1, Qt::LeftButton, Qt::NoModifier, QPoint(98, 20));
    m.Schneller101->trigger();  // the length follows the rate
    EXPECT_TRUE(m.StatusBar1->panelText(2).startsWith("48510 Hz, 16 Bit, Stereo \u2013 0:01.818"));
}

TEST(Editor, AResizedWindowShowsTheWholeRecordingAgainAndKeepsItsControls) {
    Form f;
    TMainForm& m = f.m();
    f.load16(tone(100000, false), false);
    m.resize(1200, 600);
    QApplication::processEvents();
    EXPECT_EQ(m.PaintBox1->zoom(), ZoomOutFullValue(100000, m.PaintBox1->width()));
    m.PaintBox1->setZoom(10);  // no longer the whole recording
    m.resize(900, 600);
    QApplication::processEvents();
    EXPECT_EQ(m.PaintBox1->zoom(), 10);

    m.resize(50, 50);
    QApplication::processEvents();
    EXPECT_GE(m.width(), m.minimumSizeHint().width());
    for (QWidget* c : m.findChildren<QWidget*>()) {
        if (!c->isVisibleTo(&m) || c->window() != &m || c == m.MainMenu1) continue;
        const QRect r(c->mapTo(&m, QPoint(0, 0)), c->size());
        EXPECT_TRUE(m.rect().contains(r)) << c->objectName().toStdString() << " " << c->metaObject()->className();
    }
    EXPECT_GE(m.PaintBox1->height(), 40);
}

TEST(Editor, TheViewFollowsThePlaybackCursor) {
    Form f;
    TMainForm& m = f.m();
    f.load16(tone(100000, false), false);
    m.PaintBox1->setZoom(10);
    m.RxSlider1->setValue(0);
    const int w = m.PaintBox1->width();
    EXPECT_EQ(m.PaintBox1->follow(5), 5);
    EXPECT_EQ(m.RxSlider1->value(), 0);
    EXPECT_EQ(m.PaintBox1->follow(w + 3), 0);
    EXPECT_EQ(m.RxSlider1->value(), w + 3);
}
