#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <cstring>
#include <fstream>
#include <iterator>

#include "app/MainUnit.h"
#include "app/SampleFormatFUnit.h"
#include "audio/WavFile.h"
#include "support/FakePrompts.h"
#include "support/FormFixture.h"
#include "support/FakeSoundDevice.h"
#include "support/Files.h"
#include "support/TestWav.h"
#include "transcription/NoteList.h"

using namespace notavox;
using notavox::testing::readFile;
using notavox::testing::FakePrompts;
using notavox::testing::q;

namespace {

// Also notes the status panel's text whenever a message box appears.
struct WatchingPrompts : FakePrompts {
    TMainForm* form = nullptr;
    std::vector<QString> panelAtMessage;
    int messageBox(QWidget* w, const QString& text, const QString& caption, MsgIcon icon, int buttons) override {
        if (form) panelAtMessage.push_back(form->StatusBar1->panelText(0));
        return FakePrompts::messageBox(w, text, caption, icon, buttons);
    }
};

struct Form : notavox::testing::TestForm<WatchingPrompts> {
    Form() { prompts.form = form.get(); }
};

const std::string kExample = std::string(NOTAVOX_SOURCE_DIR) + "/examples/melody.wav";

// A fresh folder and window for each test.
class MidiWindowTest : public notavox::testing::WindowTest<Form> {
protected:
    // `frames` frames of made-up samples written as a.wav in the folder and
    // loaded as the window's recording.
    void loadTestWav(int rate, bool stereo, bool sixteen, int frames) {
        const int bpf = (stereo ? 2 : 1) * (sixteen ? 2 : 1);
        f.loadWav(notavox::testing::writeWavOf(dir.file("a.wav"), rate, stereo, sixteen, size_t(frames * bpf),
                                               [](size_t i) { return uint8_t((i * 37) ^ (i >> 7)); }));
    }
};

using SaveAsMidCommand = MidiWindowTest;
using SampleFormatDialog = MidiWindowTest;

}  // namespace

TEST_F(SaveAsMidCommand, WritesTheConvertersBytes) {
    f.loadWav(kExample);
    m.document.selectionStart = 100;
    f.prompts.answerFile(q(dir.file("gui.mid")));
    m.Button1->click();
    ASSERT_EQ(f.prompts.saveRequests.size(), 1u);
    const FileDialogRequest& r = f.prompts.saveRequests[0];
    EXPECT_EQ(r.filter, "MIDI Dateien (*.mid)|*.mid;*.midi");
    EXPECT_EQ(r.defaultExt, "MID");
    EXPECT_TRUE(r.overwritePrompt);
    EXPECT_TRUE(f.prompts.messages.empty());
    EXPECT_EQ(m.StatusBar1->panelText(0), "");
    EXPECT_EQ(m.progressPercent, 0);
    // The recording keeps its format and samples; the dialog shows the
    // analysis format.
    WavData original;
    ASSERT_TRUE(ReadWAVFile(kExample, original));
    EXPECT_EQ(m.document.stereo, original.stereo);
    EXPECT_EQ(m.document.sixteenBit, original.sixteenBit);
    EXPECT_EQ(m.document.sampleRate, original.sampleRate);
    ASSERT_EQ(m.document.byteCount, original.byteCount);
    EXPECT_EQ(std::memcmp(m.document.sampleData.get(), original.block.get(), size_t(original.byteCount)), 0);
    EXPECT_EQ(m.document.selectionStart, 100);
    EXPECT_TRUE(original.stereo || original.sixteenBit);
    EXPECT_EQ(m.undoHistory.undoCount(), 0u);  // nothing changed, nothing to undo
    EXPECT_FALSE(m.SampleFormat->stereocheck->isChecked());
    EXPECT_FALSE(m.SampleFormat->bit16check->isChecked());
    EXPECT_EQ(m.SampleFormat->SamplesEd->value(), 44100);
    // A fresh song for the next conversion.
    EXPECT_EQ(m.song->trackCount(), 16);
    EXPECT_EQ(m.song->track(0)->count(), 2);

    const std::string cmd = "'" NOTAVOX_BINARY_DIR "/notavox-convert' -q '" + kExample + "' '" + dir.file("cli.mid") + "'";
    const int st = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    const std::string gui = readFile(dir.file("gui.mid"));
    EXPECT_GT(gui.size(), 300u);
    EXPECT_EQ(gui, readFile(dir.file("cli.mid")));

    // Again: the same file.
    f.prompts.answerFile(q(dir.file("again")));
    m.Button1->click();
    EXPECT_EQ(readFile(dir.file("again.MID")), gui);
}

TEST_F(SaveAsMidCommand, NothingWithoutRecordingOrWhenCancelled) {
    m.Button1->click();
    EXPECT_TRUE(f.prompts.saveRequests.empty());
    loadTestWav(48000, true, true, 5000);
    m.document.selectionEnd = 7;
    f.prompts.cancelFile();
    m.Button1->click();
    EXPECT_EQ(f.prompts.saveRequests.size(), 1u);
    EXPECT_TRUE(m.document.stereo);
    EXPECT_TRUE(m.document.sixteenBit);
    EXPECT_EQ(m.document.sampleRate, 48000);
    EXPECT_EQ(m.document.selectionEnd, 7);
}

TEST_F(SaveAsMidCommand, FileThatCannotBeCreated) {
    loadTestWav(22050, false, false, 30000);
    f.prompts.answerFile(q(dir.file("no/such/folder/x.mid")));
    m.Button1->click();
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(f.prompts.messages[0].text, "Konnte die MIDI Datei nicht erstellen!");
    EXPECT_EQ(f.prompts.messages[0].icon, MsgIcon::Error);
    EXPECT_EQ(f.prompts.messages[0].caption, "");
    EXPECT_EQ(f.prompts.panelAtMessage[0], "Noten werden gespeichert...");
    EXPECT_EQ(m.StatusBar1->panelText(0), "");
    EXPECT_EQ(m.song->track(0)->count(), 2);
    EXPECT_EQ(m.document.sampleRate, 22050);  // 8-bit mono keeps its rate
}

TEST_F(SaveAsMidCommand, RateZeroIsToldAndWritesTheEmptySong) {
    loadTestWav(44100, true, true, 3000);
    m.document.sampleRate = 0;
    f.prompts.answerFile(q(dir.file("z.mid")));
    m.Button1->click();
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_NE(f.prompts.messages[0].text.indexOf("Sampleformat"), -1);
    EXPECT_TRUE(m.document.stereo);
    const std::string z = readFile(dir.file("z.mid"));
    EXPECT_EQ(z.size(), 14u + 12u + 15u * 15u);
}

TEST_F(SampleFormatDialog, Controls) {
    TSampleFormat& d = *f.form->SampleFormat;
    EXPECT_EQ(d.windowTitle(), "Sampleformat ändern");
    EXPECT_EQ(d.stereocheck->text(), "Stereo (ansonsten Mono)");
    EXPECT_EQ(d.bit16check->text(), "16 Bit Samples (ansonsten 8 Bit)");
    EXPECT_EQ(d.Label1->text(), "Samples pro Sekunde:");
    EXPECT_EQ(d.SamplesEd->minimum(), 1);
    EXPECT_EQ(d.SamplesEd->maximum(), 200000);
    EXPECT_EQ(d.SamplesEd->value(), 44100);
    EXPECT_EQ(d.BitBtnXP1->text(), "OK");
    EXPECT_EQ(d.BitBtnXP2->text(), "Abbrechen");
    const std::pair<QPushButton*, int> rates[] = {
        {d.BitBtnXP3, 8000}, {d.BitBtnXP4, 11025}, {d.BitBtnXP5, 22050}, {d.BitBtnXP6, 44100}};
    for (auto [b, rate] : rates) {
        EXPECT_EQ(b->text(), QString("->%1 Hz").arg(rate));
        b->click();
        EXPECT_EQ(d.SamplesEd->value(), rate);
        EXPECT_FALSE(d.isVisible());
    }
    EXPECT_EQ(f.form->ChangeFormat->text().remove('&'), "Sampleformat ändern...");
    EXPECT_EQ(f.form->Sampleformatndern1->text().remove('&'), "Sampleformat ändern...");
}

TEST_F(SampleFormatDialog, ConvertsOnOkOnly) {
    // No recording: the dialog does not open.
    m.ChangeFormat->click();
    EXPECT_TRUE(f.prompts.dialogsShown.empty());

    loadTestWav(8000, false, false, 800);
    const std::vector<uint8_t> before(m.document.sampleData.get(), m.document.sampleData.get() + 800);
    bool shownStereo = true;
    int shownRate = 0;
    f.prompts.dialogAnswers.push_back([&](QDialog& dlg) {
        auto& d = static_cast<TSampleFormat&>(dlg);
        shownStereo = d.stereocheck->isChecked();
        shownRate = d.SamplesEd->value();
        d.stereocheck->setChecked(true);
        d.BitBtnXP4->click();
        return int(QDialog::Rejected);
    });
    m.ChangeFormat->click();
    EXPECT_FALSE(shownStereo);
    EXPECT_EQ(shownRate, 8000);
    EXPECT_EQ(m.document.sampleRate, 8000);
    EXPECT_FALSE(m.document.stereo);

    f.prompts.dialogAnswers.push_back([&](QDialog& dlg) {
        auto& d = static_cast<TSampleFormat&>(dlg);
        EXPECT_FALSE(d.stereocheck->isChecked());  // put back from the recording
        d.stereocheck->setChecked(true);
        d.bit16check->setChecked(true);
        d.BitBtnXP6->click();
        return int(QDialog::Accepted);
    });
    m.Sampleformatndern1->trigger();
    EXPECT_EQ(f.prompts.dialogsShown.size(), 2u);
    EXPECT_TRUE(m.document.stereo);
    EXPECT_TRUE(m.document.sixteenBit);
    EXPECT_EQ(m.document.sampleRate, 44100);
    EXPECT_EQ(m.document.byteCount, 800 * 4 * 44100 / 8000);
    // New frame k holds old frame k * 8000 / 44100 on both channels.
    for (int k = 0; k < 4410; k += 97) {
        int16_t l, r;
        std::memcpy(&l, m.document.sampleData.get() + 4 * k, 2);
        std::memcpy(&r, m.document.sampleData.get() + 4 * k + 2, 2);
        EXPECT_EQ(l, int16_t((before[size_t(k * 8000 / 44100)] - 128) * 256));
        EXPECT_EQ(r, l);
    }
}

TEST_F(SampleFormatDialog, RecordingWithoutRateIsLeftAndTheUserTold) {
    loadTestWav(8000, false, true, 100);
    m.document.sampleRate = 0;
    f.prompts.dialogAnswers.push_back([](QDialog&) { return int(QDialog::Accepted); });
    m.ChangeFormat->click();
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(f.prompts.messages[0].icon, MsgIcon::Error);
    EXPECT_EQ(m.document.byteCount, 200);
    EXPECT_TRUE(m.document.sixteenBit);
}
