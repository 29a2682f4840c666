// The notes in the real main window: the accurate analysis on the worker
// thread (cancel, same file as the converter), the
// notes heard through the fake sound device and the missing sound font.
#include <gtest/gtest.h>

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
using notavox::testing::TempDir;

namespace {

struct Form : notavox::testing::TestForm<> {
    TMainForm& m() { return *form; }
    // Silence, 16-bit mono.
    void loadSilence(int32_t rate, double seconds) {
        const int32_t frames = int32_t(rate * seconds);
        SampleBlock block = allocateBlock(size_t(frames) * 2);
        std::memset(block.get(), 0, size_t(frames) * 2);
        form->document.replace(std::move(block), frames * 2, rate, false, true);
    }
    void load(AudioDocument&& doc) {
        form->document.replace(std::move(doc.sampleData), doc.byteCount, doc.sampleRate, doc.stereo, doc.sixteenBit);
    }
};

// A model with random weights written to `dir`.
std::string writeModel(const TempDir& dir) {
    const std::string path = dir.file("notes.nvm");
    std::ofstream(path, std::ios::binary) << notavox::testing::modelBytes(notavox::testing::randomModel(4, 4, 8, 7));
    return path;
}

TEST(AccurateInWindow, CancellingWritesNothingAndKeepsTheRecording) {
    TempDir dir;
    Form f;
    TMainForm& m = f.m();
    m.modelFile = writeModel(dir);
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

// Struck notes at 100 beats a minute, every third one louder: 16-bit mono.
AudioDocument pulses(int32_t rate, double seconds) {
    const int64_t frames = int64_t(rate * seconds);
    SampleBlock b = allocateBlock(size_t(frames) * 2);
    auto* s = reinterpret_cast<int16_t*>(b.get());
    for (int64_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const int beat = int(t / 0.6);
        const double since = t - beat * 0.6;
        const double hz = beat % 3 == 0 ? 261.63 : 392.0;
        const double amp = (beat % 3 == 0 ? 0.6 : 0.3) * std::exp(-since * 8.0);
        s[i] = int16_t(std::lround(20000 * amp * std::sin(2 * M_PI * hz * since)));
    }
    AudioDocument doc;
    doc.replace(std::move(b), int32_t(frames * 2), rate, false, true);
    return doc;
}

TEST(AccurateInWindow, TheWindowAsksTempoMetreAndKeyAndWritesTheConvertersFile) {
    TempDir dir;
    const std::string model = writeModel(dir);
    // The converter finds the model beside itself.
    std::filesystem::copy_file(notavox::testing::kConvertTool, dir.file("notavox-convert"));
    AudioDocument doc = pulses(16000, 12.0);
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

// Energy of `x` at frequency `hz` (Goertzel), per sample.
double energyAt(const std::vector<int16_t>& x, size_t from, size_t n, double hz, double rate) {
    const double w = 2 * M_PI * hz / rate, c = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (size_t i = from; i < from + n && i < x.size(); ++i) {
        const double s = x[i] / 32768.0 + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return (s1 * s1 + s2 * s2 - c * s1 * s2) / double(n);
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
