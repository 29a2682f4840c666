// "Speichern als Notenblatt (MusicXML)..." in the real main window: the
// same score as notavox-convert writes for the recording, the notes the
// window holds when there are some, the compressed form, and Abbrechen.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/TempoFUnit.h"
#include "audio/WavFile.h"
#include "cli/ToolRun.h"
#include "notation/ScoreReader.h"
#include "recognition/RecognitionSupport.h"
#include "support/Files.h"
#include "support/FormFixture.h"
#include "support/TempDir.h"
#include "view/NoteView.h"

using namespace notavox;
using notavox::testing::readFile;
using notavox::testing::TempDir;

namespace {

using Form = notavox::testing::TestForm<>;

int Accept(QDialog&) { return int(QDialog::Accepted); }

TEST(ScoreInWindow, TheWindowWritesTheConvertersScoreOrTheNotesItHolds) {
    TempDir dir;
    const std::string model = notavox::testing::writeSmallModel(dir.file("notes.nvm"));
    std::filesystem::copy_file(notavox::testing::kConvertTool, dir.file("notavox-convert"));
    AudioDocument doc = notavox::testing::accentedPulses(16000, 8.0);
    ASSERT_TRUE(WriteWAVFile(dir.file("in.wav"), doc.sampleData.get(), false, true, 16000, doc.byteCount));
    std::filesystem::create_directory(dir.file("tool"));

    Form f;
    TMainForm& m = f.m();
    m.modelFile = model;
    f.load(std::move(doc));
    // In "Datei", right after the accurate MIDI save.
    const QList<QAction*> items = m.Datei1->actions();
    ASSERT_EQ(items.indexOf(m.SpeichernalsNotenblatt1), items.indexOf(m.SpeichernalsMIDgenaueErkennung1) + 1);
    EXPECT_EQ(m.SpeichernalsNotenblatt1->text(), "Speichern als &Notenblatt (MusicXML)...");

    // No notes yet: the recording is analysed; the file is the converter's.
    f.prompts.answerFile(QString::fromStdString(dir.file("score")));  // the extension is added
    f.prompts.dialogAnswers.push_back(Accept);
    m.SpeichernalsNotenblatt1->trigger();
    EXPECT_TRUE(f.prompts.messages.empty()) << f.prompts.messageTexts().join("; ").toStdString();
    const std::string cmd = "'" + dir.file("notavox-convert") + "' -q '" + dir.file("in.wav") + "' '" +
                            dir.file("tool/score.musicxml") + "' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string window = readFile(dir.file("score.musicxml"));
    ASSERT_NE(window.find("<score-partwise version=\"4.0\">"), std::string::npos);
    EXPECT_EQ(window, readFile(dir.file("tool/score.musicxml")));
    EXPECT_TRUE(m.NoteView1->isVisibleTo(&m));

    // Notes in the window: those are written, compressed when the name asks.
    m.ShowNotes({{60, 1.2, 1.8, 90}, {64, 1.8, 2.4, 90}, {67, 2.4, 3.6, 90}, {72, 3.6, 4.8, 90}, {36, 1.2, 4.8, 70}});
    f.prompts.answerFile(QString::fromStdString(dir.file("held.mxl")));
    f.prompts.dialogAnswers.push_back(Accept);
    m.SpeichernalsNotenblatt1->trigger();
    EXPECT_TRUE(f.prompts.messages.empty()) << f.prompts.messageTexts().join("; ").toStdString();
    EXPECT_EQ(readFile(dir.file("held.mxl")).substr(0, 2), "PK");
    EXPECT_EQ(m.StatusBar1->panelText(0), "Notenblatt gespeichert: 5 Noten");

    // Abbrechen in the tempo dialog writes nothing.
    f.prompts.answerFile(QString::fromStdString(dir.file("none.musicxml")));
    f.prompts.dialogAnswers.push_back([](QDialog&) { return int(QDialog::Rejected); });
    m.SpeichernalsNotenblatt1->trigger();
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.musicxml")));
    EXPECT_EQ(m.StatusBar1->panelText(0), "Nicht gespeichert");

    // A folder that cannot take the file is named in the message.
    f.prompts.answerFile(QString::fromStdString(dir.file("missing/x.musicxml")));
    f.prompts.dialogAnswers.push_back(Accept);
    m.SpeichernalsNotenblatt1->trigger();
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_TRUE(f.prompts.messages[0].text.startsWith("Das Notenblatt konnte nicht gespeichert werden."));
}

}  // namespace
