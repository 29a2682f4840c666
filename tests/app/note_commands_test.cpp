// The notes in the real main window: the accurate analysis on the worker
// thread (cancel, same file as the converter), the
// notes heard through the fake sound device and the missing sound font.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QMenu>
#include <QComboBox>
#include <QLabel>
#include <QDoubleSpinBox>
#include <QCheckBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>
#include <QTest>
#include <QApplication>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/TempoFUnit.h"
#include "audio/WavFile.h"
#include "cli/ToolRun.h"
#include "recognition/AccurateConversion.h"
#include "recognition/ModelLocation.h"
#include "recognition/RecognitionSupport.h"
#include "support/Files.h"
#include "support/FormFixture.h"
#include "support/TempDir.h"
#include "view/NoteView.h"

using namespace notavox;
using notavox::testing::readFile;
using notavox::testing::energyAt;
using notavox::testing::TempDir;
using notavox::testing::writeSmallModel;

namespace {

struct Form : notavox::testing::TestForm<> {
    // Silence, 16-bit mono.
    void loadSilence(int32_t rate, double seconds) {
        const int32_t frames = int32_t(rate * seconds);
        SampleBlock block = allocateBlock(size_t(frames) * 2);
        std::memset(block.get(), 0, size_t(frames) * 2);
        form->document.replace(std::move(block), frames * 2, rate, false, true);
        form->RecordingOpened(QString());
    }
};

QRgb pixel(TNoteView& v, int x, int y) { return v.grab().toImage().pixel(x, y); }

TEST(NoteView, DrawsTheNotesOnTheWaveformsColumnsForZoomAndScroll) {
    Form f;
    TMainForm& m = f.m();
    m.resize(900, 700);
    m.show();
    f.loadSilence(8000, 30.0);  // 240000 samples
    m.ShowNotes({{60, 2.0, 3.0, 100}, {64, 10.0, 10.5, 20}, {67, 20.0, 22.0, 127}});
    TNoteView& v = *m.NoteView1;
    ASSERT_TRUE(v.isVisible());
    EXPECT_TRUE(m.Notenanzeigen1->isChecked());
    // The used range 60..67 is in view.
    EXPECT_GE(v.topKey(), 67);
    EXPECT_LE(v.topKey() - v.visibleRows() + 1, 60);

    struct Case {
        int zoom, scroll;
    };
    for (const Case c : {Case{100, 0}, Case{200, 0}, Case{50, 100}, Case{20, 700}}) {
        m.ZoomOutEd->setValue(c.zoom);
        m.RxSlider1->setMaximum(100000);
        m.RxSlider1->setValue(c.scroll);
        ASSERT_EQ(m.PaintBox1->zoom(), c.zoom);
        ASSERT_EQ(m.PaintBox1->position(), c.scroll);
        for (const TranscribedNote& n : v.notes()) {
            // The waveform's column of the note's first frame.
            const int64_t x0 = (int64_t(n.onset * 8000) - int64_t(c.zoom) * c.scroll) / c.zoom;
            const int64_t x1 = (int64_t(n.offset * 8000) - int64_t(c.zoom) * c.scroll) / c.zoom;
            EXPECT_EQ(v.columnOf(n.onset), x0);
            // The time axis starts right of the keyboard.
            EXPECT_EQ(v.xOf(n.onset), TNoteView::kKeyboardWidth + x0);
            const int y = v.rowTop(n.pitch) + v.rowHeight() / 2;
            const int inside = TNoteView::kKeyboardWidth + int(std::max<int64_t>(x0, 2) + 2);
            if (inside < TNoteView::kKeyboardWidth + x1 - 1 && inside < v.rollRight() - 2) {
                EXPECT_EQ(pixel(v, inside, y), TNoteView::velocityColour(n.velocity).rgb())
                    << "zoom " << c.zoom << " scroll " << c.scroll << " pitch " << n.pitch;
                // Nothing in the rows above and below at that column but the background.
                EXPECT_NE(pixel(v, inside, y - v.rowHeight()), TNoteView::velocityColour(n.velocity).rgb());
            }
            if (x0 - 3 > 1 && TNoteView::kKeyboardWidth + x0 - 3 < v.rollRight()) {
                EXPECT_NE(pixel(v, TNoteView::kKeyboardWidth + int(x0) - 3, y),
                          TNoteView::velocityColour(n.velocity).rgb());
            }
        }
    }
    EXPECT_EQ(TNoteView::noteName(60), "C4");
    EXPECT_EQ(TNoteView::noteName(21), "A0");
    EXPECT_EQ(TNoteView::noteName(66), "F#4");

    // "Noten anzeigen" hides and shows the strip.
    m.Notenanzeigen1->trigger();
    EXPECT_FALSE(v.isVisible());
    m.Notenanzeigen1->trigger();
    EXPECT_TRUE(v.isVisible());

    // A change of the recording drops the notes.
    m.Lauter101->trigger();
    EXPECT_FALSE(v.hasNotes());
}

TEST(NoteView, DrawsBarLinesAlwaysAndBeatLinesWhileTheyStandApart) {
    Form f;
    TMainForm& m = f.m();
    m.resize(900, 700);
    m.show();
    f.loadSilence(8000, 30.0);
    m.ShowNotes({{100, 0.0, 0.1, 100}});  // far above the rows looked at
    TNoteView& v = *m.NoteView1;
    v.setTopKey(60);
    std::vector<BeatLine> beats;
    for (int i = 0; i < 40; ++i) beats.push_back({0.5 * i, i % 4 == 0});
    v.setBeats(beats);
    m.RxSlider1->setValue(0);
    const int y = v.rowTop(57) + 2;
    const auto column = [&](double s) { return int(v.xOf(s)); };
    m.ZoomOutEd->setValue(100);  // a beat every 40 columns
    const QRgb bar = pixel(v, column(4.0), y), beat = pixel(v, column(4.5), y), between = pixel(v, column(4.25), y);
    EXPECT_NE(bar, between);
    EXPECT_NE(beat, between);
    EXPECT_NE(bar, beat);
    m.ZoomOutEd->setValue(1000);  // a beat every 4 columns: only the bars
    EXPECT_EQ(pixel(v, column(16.0), y), bar);
    EXPECT_EQ(pixel(v, column(16.5), y), between);
    // A changed recording drops the lines with the notes.
    m.document.touch();
    EXPECT_TRUE(v.beats().empty());
}

TEST(AccurateInWindow, CancellingWritesNothingAndKeepsTheRecording) {
    TempDir dir;
    Form f;
    TMainForm& m = f.m();
    m.modelFile = writeSmallModel(dir.file("notes.nvm"));
    f.load(notavox::testing::toneRecording(22050, true, true, 240.0, {{440.0, 0.3}}));
    // The key goes through the window's shortcuts, where "Nichts auswählen" also has Escape.
    m.show();
    m.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m));
    const std::vector<uint8_t> before(m.document.sampleData.get(), m.document.sampleData.get() + m.document.byteCount);
    const int32_t rate = m.document.sampleRate;

    for (int viaEscape = 0; viaEscape < 2; ++viaEscape) {
        const std::string out = dir.file(viaEscape ? "esc.mid" : "stop.mid");
        f.prompts.answerFile(QString::fromStdString(out));
        bool sawBusy = false, sawProgress = false;
        QTimer poke;
        QObject::connect(&poke, &QTimer::timeout, [&] {
            if (!m.busy()) return;
            sawBusy = true;
            EXPECT_FALSE(m.OpenBtn->isEnabled());
            EXPECT_FALSE(m.CropToSelection->isEnabled());
            EXPECT_FALSE(m.Effekte1->menuAction()->isEnabled());
            EXPECT_TRUE(m.StopBTN->isEnabled());
            if (m.progressPercent > 0) sawProgress = true;
            if (!sawProgress) return;
            if (viaEscape)
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &m, Qt::Key_Escape);
            else m.StopBTN->click();
        });
        poke.start(5);
        m.Button2->click();
        poke.stop();
        EXPECT_TRUE(sawBusy);
        EXPECT_TRUE(sawProgress);
        EXPECT_FALSE(std::filesystem::exists(out));
        EXPECT_TRUE(f.prompts.messages.empty());
        EXPECT_EQ(m.StatusBar1->panelText(0).toStdString(), recognition::kCancelledText);
        EXPECT_EQ(m.progressPercent, 0);
        EXPECT_TRUE(m.OpenBtn->isEnabled());
        EXPECT_FALSE(m.StopBTN->isEnabled());
        EXPECT_FALSE(m.NoteView1->hasNotes());
    }
    ASSERT_EQ(size_t(m.document.byteCount), before.size());
    EXPECT_EQ(std::memcmp(m.document.sampleData.get(), before.data(), before.size()), 0);
    EXPECT_EQ(m.document.sampleRate, rate);
}

TEST(AccurateInWindow, TheWindowAsksTempoMetreAndKeyAndWritesTheConvertersFile) {
    TempDir dir;
    const std::string model = writeSmallModel(dir.file("notes.nvm"));
    // The converter finds the model beside itself.
    std::filesystem::copy_file(notavox::testing::kConvertTool, dir.file("notavox-convert"));
    AudioDocument doc = notavox::testing::accentedPulses(16000, 12.0);
    ASSERT_TRUE(WriteWAVFile(dir.file("in.wav"), doc.sampleData.get(), false, true, 16000, doc.byteCount));
    const auto convert = [&](const std::string& flags, const std::string& out) {
        const std::string cmd = "'" + dir.file("notavox-convert") + "' -q --accurate " + flags + " '" +
                                dir.file("in.wav") + "' '" + dir.file(out) + "' 2>&1";
        return std::system(cmd.c_str());
    };

    Form f;
    TMainForm& m = f.m();
    m.modelFile = model;
    f.load(std::move(doc));

    // OK on what was found: the converter's file with its defaults.
    QString shown;
    f.prompts.answerFile(QString::fromStdString(dir.file("window")));  // the extension is added
    f.prompts.dialogAnswers.push_back([&](QDialog& d) {
        auto& t = static_cast<TTempoForm&>(d);
        shown = t.windowTitle() + " | " + t.FoundLabel->text();
        EXPECT_TRUE(t.FolgenCheck->isChecked());
        EXPECT_FALSE(t.TempoEd->isEnabled());
        EXPECT_EQ(t.QuantisierenBox->currentText(), "Aus");
        EXPECT_FALSE(t.StaerkeEd->isEnabled());
        return int(QDialog::Accepted);
    });
    m.SpeichernalsMIDgenaueErkennung1->trigger();
    EXPECT_TRUE(f.prompts.messages.empty()) << f.prompts.messageTexts().join("; ").toStdString();
    EXPECT_TRUE(shown.startsWith("Tempo, Takt und Tonart | Gefunden: 100 Schläge pro Minute, ")) << shown.toStdString();
    ASSERT_EQ(convert("", "tool.mid"), 0);
    const std::string window = readFile(dir.file("window.MID"));
    ASSERT_FALSE(window.empty());
    EXPECT_EQ(window, readFile(dir.file("tool.mid")));
    EXPECT_TRUE(m.NoteView1->isVisibleTo(&m));
    // The beats found stand in the note view, 0.6 s apart, with bar lines among them.
    const std::vector<BeatLine>& beats = m.NoteView1->beats();
    ASSERT_GE(beats.size(), 10u);
    EXPECT_NEAR(beats[6].seconds - beats[5].seconds, 0.6, 0.03);
    EXPECT_GE(std::count_if(beats.begin(), beats.end(), [](const BeatLine& b) { return b.barStart; }), 2);

    // A fixed tempo and quantisation: the converter's file with the same flags.
    f.prompts.answerFile(QString::fromStdString(dir.file("fixed.mid")));
    f.prompts.dialogAnswers.push_back([](QDialog& d) {
        auto& t = static_cast<TTempoForm&>(d);
        t.FolgenCheck->setChecked(false);
        EXPECT_TRUE(t.TempoEd->isEnabled());
        t.TempoEd->setValue(90);
        t.QuantisierenBox->setCurrentText("1/8");
        EXPECT_TRUE(t.StaerkeEd->isEnabled());
        t.StaerkeEd->setValue(60);
        return int(QDialog::Accepted);
    });
    m.SpeichernalsMIDgenaueErkennung1->trigger();
    ASSERT_EQ(convert("--tempo 90 --quantize 1/8 --quantize-strength 60", "fixed-tool.mid"), 0);
    EXPECT_EQ(readFile(dir.file("fixed.mid")), readFile(dir.file("fixed-tool.mid")));
    const std::vector<BeatLine>& fixed = m.NoteView1->beats();
    ASSERT_GE(fixed.size(), 10u);
    EXPECT_DOUBLE_EQ(fixed[1].seconds, 60.0 / 90);
    EXPECT_TRUE(fixed[0].barStart);

    // Abbrechen writes nothing; the notes are still shown.
    f.prompts.answerFile(QString::fromStdString(dir.file("none.mid")));
    f.prompts.dialogAnswers.push_back([](QDialog&) { return int(QDialog::Rejected); });
    m.SpeichernalsMIDgenaueErkennung1->trigger();
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.mid")));
    EXPECT_EQ(m.StatusBar1->panelText(0), "Nicht gespeichert");
    EXPECT_TRUE(m.NoteView1->hasNotes());
    EXPECT_TRUE(f.prompts.messages.empty());
}

TEST(AccurateInWindow, AMissingModelIsNamed) {
    TempDir dir;
    Form f;
    TMainForm& m = f.m();
    f.loadSilence(8000, 1.0);
    if (!recognition::FindModelFile().empty()) GTEST_SKIP() << "a model lies beside the tests";
    f.prompts.answerFile(QString::fromStdString(dir.file("x.mid")));
    m.Button2->click();
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_TRUE(f.prompts.messages[0].text.startsWith("Die Modelldatei notes.nvm wurde nicht gefunden."));
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.mid")));
}

// A weights file that is no file, a pipe without a writer, a link to an
// endless device or a damaged file: one German message box for either
// command, never an abort or a hang, and nothing written.
TEST(AccurateInWindow, AnUnusableModelIsOneMessageBox) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("folder.nvm"));
    ASSERT_EQ(::mkfifo(dir.file("pipe.nvm").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.file("zero.nvm"));
    std::string damaged = readFile(writeSmallModel(dir.file("notes.nvm")));
    damaged[damaged.size() / 2] = char(damaged[damaged.size() / 2] ^ 0x40);  // a flipped exponent bit, say
    std::ofstream(dir.file("damaged.nvm"), std::ios::binary) << damaged;
    Form f;
    TMainForm& m = f.m();
    f.loadSilence(8000, 1.0);
    const std::pair<const char*, const char*> cases[] = {{"folder.nvm", "keine gewöhnliche Datei"},
                                                         {"pipe.nvm", "keine gewöhnliche Datei"},
                                                         {"zero.nvm", "keine gewöhnliche Datei"},
                                                         {"damaged.nvm", "Prüfsumme stimmt nicht"}};
    for (const auto& [name, why] : cases) {
        m.modelFile = dir.file(name);
        const QString expected =
            QString::fromStdString("Die Modelldatei " + dir.file(name) + " ist unbrauchbar: ") + QString::fromUtf8(why);
        f.prompts.messages.clear();
        f.prompts.answerFile(QString::fromStdString(dir.file("x.mid")));
        m.Button2->click();
        m.Notenerkennen1->trigger();
        ASSERT_EQ(f.prompts.messages.size(), 2u) << name;
        for (const auto& shown : f.prompts.messages) {
            EXPECT_EQ(shown.text, expected);
            EXPECT_EQ(shown.icon, MsgIcon::Error);
        }
        EXPECT_FALSE(std::filesystem::exists(dir.file("x.mid")));
        EXPECT_FALSE(m.NoteView1->hasNotes());
    }
}

// The accurate save names why its file could not be written.
TEST(AccurateInWindow, AFailedSaveNamesItsCause) {
    TempDir dir;
    Form f;
    TMainForm& m = f.m();
    m.modelFile = writeSmallModel(dir.file("notes.nvm"));
    f.load(notavox::testing::toneRecording(16000, false, true, 2.0, {{440.0, 0.3}}));
    f.prompts.answerFile(QString::fromStdString(dir.file("kein/Ordner.mid")));
    f.prompts.dialogAnswers.push_back([](QDialog&) { return int(QDialog::Accepted); });
    m.Button2->click();
    EXPECT_EQ(f.prompts.messageTexts(), QStringList{"Konnte die MIDI Datei nicht erstellen!\nDen Ordner gibt es nicht."});
}

// The model is read once: later commands use what was read, even when the
// file has changed since.
TEST(AccurateInWindow, TheModelIsReadOnce) {
    TempDir dir;
    Form f;
    TMainForm& m = f.m();
    m.modelFile = writeSmallModel(dir.file("notes.nvm"));
    f.load(notavox::testing::toneRecording(16000, false, true, 2.0, {{440.0, 0.3}}));
    m.Notenerkennen1->trigger();
    ASSERT_TRUE(f.prompts.messages.empty()) << f.prompts.messageTexts().join("; ").toStdString();
    std::ofstream(m.modelFile, std::ios::binary) << "NVNM";  // spoilt after the first read
    m.Notenerkennen1->trigger();
    EXPECT_TRUE(f.prompts.messages.empty()) << f.prompts.messageTexts().join("; ").toStdString();
}

// Both analyses refuse a rate outside 1000..192000 Hz (reached here through
// "Langsamer 10%") with the rate in the message.
TEST(AccurateInWindow, ARateOutsideTheRangeIsRefusedByBothAnalyses) {
    TempDir dir;
    Form f;
    TMainForm& m = f.m();
    m.modelFile = writeSmallModel(dir.file("notes.nvm"));
    f.loadSilence(1000, 1.0);
    m.document.sampleRate = 909;
    f.prompts.answerFile(QString::fromStdString(dir.file("x.mid")));
    m.Button2->click();
    m.Notenerkennen1->trigger();
    m.GenaueErkennung1->setChecked(false);
    m.Notenerkennen1->trigger();
    const QString sentence = "Die Samplerate 909 Hz wird nicht unterstützt (erlaubt sind 1000 bis 192000 Hz).";
    EXPECT_EQ(f.prompts.messageTexts(),
              (QStringList{sentence, sentence, "Das Sampleformat kann nicht geändert werden: " + sentence}));
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.mid")));
    EXPECT_EQ(m.document.sampleRate, 909);
}

TEST(NotesHeard, TheSynthesisedNotesSoundAtTheirPitchesAndTimes) {
    if (FindSoundFont().empty()) GTEST_SKIP() << "no sound font installed";
    Form f;
    TMainForm& m = f.m();
    f.loadSilence(22050, 2.0);
    m.SchleifeCheck->setChecked(false);
    // A4 in the first half second, D6 from 1.0 to 1.5 s (no harmonic of A4).
    m.ShowNotes({{69, 0.0, 0.5, 100}, {86, 1.0, 1.5, 100}});
    m.WiedergabeBox->setCurrentIndex(1);  // "Noten"
    m.PlayBtn->click();
    const std::vector<int16_t> out = f.sound.playedLeft();
    ASSERT_GE(out.size(), size_t(44100 * 2));
    const size_t win = 8192;
    const double a1 = energyAt(out, 4410, win, 440.0, 44100), a2 = energyAt(out, 48510, win, 440.0, 44100);
    const double e1 = energyAt(out, 4410, win, 1174.66, 44100), e2 = energyAt(out, 48510, win, 1174.66, 44100);
    EXPECT_GT(a1, 1e-4);
    EXPECT_GT(a1, 20 * a2);
    EXPECT_GT(e2, 1e-5);
    EXPECT_GT(e2, 20 * e1);
    EXPECT_GT(a1, 20 * energyAt(out, 4410, win, 600.0, 44100));  // at its pitch, not everywhere
}

TEST(NotesHeard, RecordingAndNotesAreMixedAndAMissingFontIsReported) {
    Form f;
    TMainForm& m = f.m();
    f.load(notavox::testing::toneRecording(44100, false, true, 1.0, {{300.0, 0.5}}));
    m.SchleifeCheck->setChecked(false);
    m.ShowNotes({{81, 0.0, 0.9, 110}});  // A5, 880 Hz
    m.WiedergabeBox->setCurrentIndex(2);  // "Aufnahme + Noten"
    if (!FindSoundFont().empty()) {
        m.PlayBtn->click();
        const std::vector<int16_t> out = f.sound.playedLeft();
        const double rec = energyAt(out, 2205, 8192, 300.0, 44100), notes = energyAt(out, 2205, 8192, 880.0, 44100);
        EXPECT_GT(rec, 1e-4);
        EXPECT_GT(notes, rec / 100);
        EXPECT_GT(rec, notes / 100);
        EXPECT_TRUE(f.prompts.messages.empty());
    }
    m.soundFontPaths = {"/nonexistent/a.sf2"};
    f.sound.blocks.clear();
    m.PlayBtn->click();
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(f.prompts.messages[0].text, QString::fromUtf8(kNoSoundFontText));
    EXPECT_TRUE(f.sound.blocks.empty());
}

}  // namespace
