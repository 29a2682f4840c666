#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QPushButton>
#include <QFile>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/MainUnit.h"
#include "audio/WavFile.h"
#include "support/FakePrompts.h"
#include "support/FormFixture.h"
#include "support/FakeSoundDevice.h"
#include "support/Files.h"
#include "support/TempDir.h"
#include "support/TestWav.h"

using namespace notavox;
using notavox::testing::readFile;
using notavox::testing::TempDir;
using notavox::testing::q;

namespace {

using Form = notavox::testing::TestForm<>;

// A fresh folder and window for each test, with the steps the tests share.
class FileCommandTest : public notavox::testing::WindowTest<> {
protected:
    // Writes `bytes` made-up sample bytes as the WAV file `name` in the
    // folder and returns its path.
    std::string testWav(const std::string& name, bool stereo, bool sixteen, int rate, int bytes) {
        return notavox::testing::writeWavOf(dir.file(name), rate, stereo, sixteen, size_t(bytes),
                                            [](size_t i) { return uint8_t(i * 13); });
    }
    // The open command, its dialog answered with `path`.
    void openFile(const std::string& path) {
        f.prompts.answerFile(q(path));
        m.OpenBtnClick();
    }
    // The save command, its dialog answered with `name` in the folder and
    // the type chosen in the list (1: MP3, 2: WAV).
    void saveAs(const std::string& name, int type) {
        f.prompts.answerFile(q(dir.file(name)), type);
        m.SaveBtnClick();
    }
};

using OpenCommand = FileCommandTest;
using SaveCommand = FileCommandTest;

}  // namespace

TEST_F(OpenCommand, LoadsAWavFileAndClearsTheSelection) {
    const std::string name = testWav("Überraschung.wav", true, true, 22050, 1001);
    m.document.selectionStart = 5;
    m.document.selectionEnd = 9;
    f.prompts.answerFile(q(name));
    m.OpenBtn->click();
    ASSERT_EQ(f.prompts.openRequests.size(), 1u);
    const FileDialogRequest& r = f.prompts.openRequests[0];
    EXPECT_EQ(r.filter, "WAV und MP3-Dateien|*.WAV;*.MP3");
    EXPECT_EQ(r.defaultExt, "WAV");
    EXPECT_EQ(r.initialDir, QCoreApplication::applicationDirPath());
    EXPECT_TRUE(f.prompts.messages.empty());
    EXPECT_EQ(m.document.byteCount, 1001);
    EXPECT_EQ(m.document.sampleRate, 22050);
    EXPECT_TRUE(m.document.stereo);
    EXPECT_TRUE(m.document.sixteenBit);
    EXPECT_EQ(m.document.selectionStart, 0);
    EXPECT_EQ(m.document.selectionEnd, 0);

    // Saved again as WAV (second type) it is the same file, byte for byte.
    const std::string copy = dir.file("Kopie.wav");
    f.prompts.answerFile(q(copy), 2);
    m.SaveBtn->click();
    EXPECT_TRUE(f.prompts.messages.empty());
    EXPECT_EQ(readFile(copy), readFile(name));
}

TEST_F(OpenCommand, FailureKeepsTheRecordingButClearsTheSelection) {
    f.prompts.answerFile(q(testWav("good.wav", false, false, 8000, 100)));
    m.ffnen1->trigger();
    m.document.selectionStart = 3;
    m.document.selectionEnd = 50;
    const std::string bad = dir.file("bad.wav");
    std::ofstream(bad) << "RIFF this is no wave";
    for (const std::string& name : {bad, dir.file("missing.wav"), dir.path()}) {
        f.prompts.messages.clear();
        f.prompts.answerFile(q(name));
        m.OpenBtn->click();
        ASSERT_EQ(f.prompts.messages.size(), 1u) << name;
        EXPECT_EQ(f.prompts.messages[0].text, "Konnte Datei nicht öffnen");
        EXPECT_EQ(f.prompts.messages[0].caption, "");
        EXPECT_EQ(f.prompts.messages[0].icon, MsgIcon::Error);
        EXPECT_EQ(f.prompts.messages[0].buttons, MB_OK);
        EXPECT_EQ(m.document.byteCount, 100);
        EXPECT_EQ(m.document.sampleRate, 8000);
        EXPECT_FALSE(m.document.stereo);
        EXPECT_EQ(m.document.selectionStart, 0);
        EXPECT_EQ(m.document.selectionEnd, 0);
    }
}

// A rate outside 1000..192000 Hz is refused at the open with the fixed
// text and, below it, the rate; the recording stays.
TEST_F(OpenCommand, ARateOutsideTheRangeIsRefusedNamingIt) {
    f.prompts.answerFile(q(testWav("good.wav", false, false, 8000, 100)));
    m.OpenBtn->click();
    for (int rate : {0, 1, 999, 192001}) {
        f.prompts.messages.clear();
        f.prompts.answerFile(q(testWav("odd.wav", true, true, rate, 4000)));
        m.OpenBtn->click();
        ASSERT_EQ(f.prompts.messages.size(), 1u) << rate;
        EXPECT_EQ(f.prompts.messages[0].text, QString("Konnte Datei nicht öffnen\nDie Samplerate %1 Hz wird nicht "
                                                      "unterstützt (erlaubt sind 1000 bis 192000 Hz).")
                                                  .arg(rate));
        EXPECT_EQ(f.prompts.messages[0].icon, MsgIcon::Error);
        EXPECT_EQ(m.document.sampleRate, 8000);
        EXPECT_EQ(m.document.byteCount, 100);
    }
}

TEST_F(OpenCommand, CancelChangesNothing) {
    m.document.selectionStart = 3;
    m.document.selectionEnd = 7;
    f.prompts.cancelFile();
    m.OpenBtnClick();
    EXPECT_EQ(m.document.selectionStart, 3);
    EXPECT_EQ(m.document.selectionEnd, 7);
    EXPECT_TRUE(f.prompts.messages.empty());
    EXPECT_EQ(m.saveDialog1FilterIndex, 1);
}

TEST_F(OpenCommand, Mp3ExtensionInAnyCaseGoesThroughATemporaryFile) {
    TempDir tmp;
    const notavox::testing::TmpdirOverride tmpdir(tmp.path());
    const std::string mp3 = dir.file("lied.Mp3");
    std::ofstream(mp3) << "not really an mp3";
    openFile(mp3);
    ASSERT_FALSE(f.prompts.messages.empty());
    EXPECT_EQ(f.prompts.messages.back().text, "Konnte Datei nicht öffnen");
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));  // the temporary file is gone

    // ".mp3" before a final ".wav" is a WAV file.
    const std::string wav = testWav("lied.mp3.wav", false, true, 11025, 40);
    f.prompts.messages.clear();
    openFile(wav);
    EXPECT_TRUE(f.prompts.messages.empty());
    EXPECT_EQ(m.document.sampleRate, 11025);
}

TEST_F(SaveCommand, DialogSettingsTypeMemoryAndExtension) {
    openFile(testWav("a.wav", false, false, 8000, 10));
    f.prompts.cancelFile();
    m.SaveBtnClick();  // cancelled: nothing written, the type unchanged
    EXPECT_EQ(m.saveDialog1FilterIndex, 1);
    f.prompts.saveRequests.clear();
    saveAs("ohne", 2);
    ASSERT_EQ(f.prompts.saveRequests.size(), 1u);
    const FileDialogRequest& r = f.prompts.saveRequests[0];
    EXPECT_EQ(r.filter, "MP3-Datei|*.MP3|WAV-Datei|*.WAV");
    EXPECT_EQ(r.defaultExt, "WAV");
    EXPECT_EQ(r.filterIndex, 1);
    EXPECT_TRUE(r.overwritePrompt);
    // No extension: the chosen type's one is appended.
    EXPECT_EQ(readFile(dir.file("ohne.wav")).size(), 44u + 10u);
    EXPECT_EQ(m.saveDialog1FilterIndex, 2);
    f.prompts.cancelFile();
    m.SaveBtnClick();
    EXPECT_EQ(f.prompts.saveRequests[1].filterIndex, 2);
}

TEST_F(SaveCommand, FailedSaveShowsTheMessageAndKeepsTheOldFile) {
    openFile(testWav("a.wav", false, false, 8000, 10));
    saveAs("nicht/da.wav", 2);
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    // The fixed text, and below it the cause.
    EXPECT_EQ(f.prompts.messages[0].text, "Konnte Datei nicht speichern\nDen Ordner gibt es nicht.");
    EXPECT_EQ(f.prompts.messages[0].icon, MsgIcon::Error);
    EXPECT_EQ(m.document.byteCount, 10);
}

// A typed ".wav" or ".mp3" decides the format, whatever type the list shows;
// without one the list decides and its extension is appended.
TEST_F(SaveCommand, TypedExtensionDecidesTheFormat) {
    openFile(testWav("in.wav", true, true, 44100, 40000));
    saveAs("x.wav", 1);  // MP3 chosen in the list
    EXPECT_TRUE(f.prompts.messages.empty()) << f.prompts.messages[0].text.toStdString();
    EXPECT_EQ(readFile(dir.file("x.wav")), readFile(dir.file("in.wav")));
    saveAs("y.MP3", 2);  // WAV chosen in the list
    const std::string mp3 = readFile(dir.file("y.MP3"));
    ASSERT_GT(mp3.size(), 4u);
    EXPECT_NE(mp3.substr(0, 4), "RIFF");
    EXPECT_EQ(uint8_t(mp3[0]), 0xFF);  // an MP3 frame
    EXPECT_EQ(m.saveDialog1FilterIndex, 2);
}

// With no recording the save says so: no 44-byte file, no encoder message.
TEST_F(SaveCommand, NoRecordingIsTold) {
    for (int type : {1, 2}) {
        f.prompts.messages.clear();
        saveAs("leer", type);
        ASSERT_EQ(f.prompts.messages.size(), 1u);
        EXPECT_EQ(f.prompts.messages[0].text, "Es ist keine Aufnahme geladen, die gespeichert werden kann.");
        EXPECT_TRUE(f.prompts.saveRequests.empty());
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(SaveCommand, NameTooLongIsTold) {
    openFile(testWav("a.wav", false, false, 8000, 10));
    saveAs(std::string(300, 'n').append(".wav"), 2);
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(f.prompts.messages[0].text, "Konnte Datei nicht speichern\nDer Dateiname ist zu lang.");
    EXPECT_EQ(f.prompts.messages[0].icon, MsgIcon::Error);
}
