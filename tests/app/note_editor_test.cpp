// Correcting the notes in the real main window: each edit by mouse and key
// and its undo in the recording's history, snapping and quantising, the
// accurate save of what the view shows, the question before unsaved note
// edits go, and "Empfindlichkeit" and "Kürzeste Note" without the network.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/TempoFUnit.h"
#include "audio/WavFile.h"
#include "cli/ToolRun.h"
#include "recognition/RecognitionSupport.h"
#include "rhythm/TempoMappedExport.h"
#include "sound/NoteSynth.h"
#include "support/Files.h"
#include "support/FormFixture.h"
#include "support/TempDir.h"
#include "view/NoteView.h"

using namespace notavox;
using notavox::testing::readFile;
using notavox::testing::energyAt;
using notavox::testing::TempDir;

namespace {

constexpr int32_t kRate = 8000;
constexpr int kZoom = 300;                             // samples a column
constexpr double kColumn = double(kZoom) / kRate;      // 0.0375 s

struct Editor : notavox::testing::TestForm<> {
    TNoteView& v() { return *form->NoteView1; }
    // 30 s of silence, three notes, the view at kZoom from the start.
    void open(std::vector<TranscribedNote> notes = {{60, 2.0, 3.0, 100}, {64, 10.0, 10.5, 20}, {67, 20.0, 22.0, 127}}) {
        TMainForm& m = *form;
        m.resize(1100, 800);
        m.show();
        const int32_t frames = kRate * 30;
        SampleBlock block = allocateBlock(size_t(frames) * 2);
        std::memset(block.get(), 0, size_t(frames) * 2);
        m.document.replace(std::move(block), frames * 2, kRate, false, true);
        m.RecordingOpened(QString());
        m.ShowNotes(std::move(notes));
        m.ZoomOutEd->setValue(kZoom);
        m.RxSlider1->setValue(0);
        QApplication::processEvents();
    }
    QPoint at(double seconds, int pitch) { return QPoint(int(v().xOf(seconds)), v().rowTop(pitch) + v().rowHeight() / 2); }
    void drag(QPoint from, QPoint to, Qt::KeyboardModifiers mods = {}) {
        QTest::mousePress(&v(), Qt::LeftButton, mods, from);
        QTest::mouseMove(&v(), (from + to) / 2);
        QTest::mouseMove(&v(), to);
        QTest::mouseRelease(&v(), Qt::LeftButton, mods, to);
    }
    const EditNote* note(int pitch) {
        for (const EditNote& n : v().list().notes())
            if (n.pitch == pitch) return &n;
        return nullptr;
    }
    std::string undoText() { return form->Rckgngig1->text().toStdString(); }
};

std::vector<TranscribedNote> sorted(std::vector<TranscribedNote> n) {
    std::sort(n.begin(), n.end(), [](const TranscribedNote& a, const TranscribedNote& b) {
        return a.onset != b.onset ? a.onset < b.onset : a.pitch < b.pitch;
    });
    return n;
}

}  // namespace

TEST(NoteEditor, TheViewOpensOnTheNotesAndKeepsTheWaveformsTimeAxis) {
    Editor e;
    e.open({{48, 1.0, 2.0, 90}, {55, 3.0, 4.0, 90}});
    TMainForm& m = *e.form;
    // The used keys with a free row around them fill the height.
    EXPECT_EQ(e.v().topKey(), 56);
    EXPECT_GE(e.v().topKey() - e.v().visibleRows() + 1, 46);
    EXPECT_GT(e.v().rowHeight(), TNoteView::kRowHeight);
    // The notes may take most of the room; the keyboard stands beside the time axis:
    // the waveform's first column lies right of it, over the notes' first column.
    EXPECT_GT(m.NotePane->height(), m.ScrollBox1->height());
    EXPECT_EQ(m.PaintBox1->mapTo(&m, QPoint(0, 0)).x(), e.v().mapTo(&m, QPoint(TNoteView::kKeyboardWidth, 0)).x());
    EXPECT_EQ(m.PaintBox1->width(), e.v().rollRight() - TNoteView::kKeyboardWidth);
    // Scrolled away and fitted again.
    e.v().setTopKey(100);
    m.Tonumfangeinpassen1->trigger();
    EXPECT_EQ(e.v().topKey(), 56);
}

TEST(NoteEditor, EachEditByMouseAndKeyIsAStepOfTheRecordingsUndoHistory) {
    Editor e;
    e.open();
    TMainForm& m = *e.form;
    const std::vector<TranscribedNote> original = e.v().notes();
    m.document.selectionStart = 0;
    m.document.selectionEnd = 8000;
    const int32_t bytes = m.document.byteCount;

    // A click selects; the velocity field shows the note's.
    QTest::mouseClick(&e.v(), Qt::LeftButton, {}, e.at(10.2, 64));
    EXPECT_EQ(e.v().list().selectedCount(), 1u);
    EXPECT_TRUE(m.AnschlagEd->isEnabled());
    EXPECT_EQ(m.AnschlagEd->value(), 20);
    EXPECT_FALSE(m.Rckgngig1->isEnabled());

    // Dragged 40 columns right and two rows up.
    e.drag(e.at(10.2, 64), e.at(10.2, 64) + QPoint(40, -2 * e.v().rowHeight()));
    ASSERT_NE(e.note(66), nullptr);
    EXPECT_NEAR(e.note(66)->onset, 10.0 + 40 * kColumn, 1e-9);
    EXPECT_NEAR(e.note(66)->offset, 10.5 + 40 * kColumn, 1e-9);
    EXPECT_EQ(e.undoText(), "&Rückgängig: Note verschieben");
    EXPECT_TRUE(m.HasUnsavedNoteEdits());
    m.Rckgngig1->trigger();
    EXPECT_EQ(e.v().notes(), original);
    EXPECT_EQ(m.Wiederherstellen1->text().toStdString(), "&Wiederherstellen: Note verschieben");
    m.Wiederherstellen1->trigger();
    ASSERT_NE(e.note(66), nullptr);

    // The keys, with the focus in the note view: Shift+Up an octave, Up a key,
    // Left a twentieth of a second.
    ASSERT_TRUE(e.v().hasFocus() || (e.v().setFocus(), true));
    QTest::keyClick(&e.v(), Qt::Key_Up, Qt::ShiftModifier);
    ASSERT_NE(e.note(78), nullptr);
    QTest::keyClick(&e.v(), Qt::Key_Down);
    ASSERT_NE(e.note(77), nullptr);
    QTest::keyClick(&e.v(), Qt::Key_Left);
    EXPECT_NEAR(e.note(77)->onset, 10.0 + 40 * kColumn - 0.05, 1e-9);
    EXPECT_EQ(e.undoText(), "&Rückgängig: Note verschieben");

    // Delete takes the note, not the recording's selection; Ctrl+A selects
    // every note, not the whole recording.
    QTest::keyClick(&e.v(), Qt::Key_Delete);
    EXPECT_EQ(e.v().list().size(), 2u);
    EXPECT_EQ(m.document.byteCount, bytes);
    EXPECT_EQ(e.undoText(), "&Rückgängig: Noten löschen");
    QTest::keyClick(&e.v(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(e.v().list().selectedCount(), 2u);
    EXPECT_EQ(m.document.selectionEnd, 8000);

    // The end of a note dragged: its length.
    QTest::mouseClick(&e.v(), Qt::LeftButton, {}, e.at(2.5, 60));
    e.drag(e.at(3.0, 60) - QPoint(2, 0), e.at(3.0, 60) + QPoint(18, 0));
    EXPECT_NEAR(e.note(60)->offset, 3.0 + 20 * kColumn, kColumn + 1e-9);
    EXPECT_DOUBLE_EQ(e.note(60)->onset, 2.0);
    EXPECT_EQ(e.undoText(), "&Rückgängig: Notenlänge ändern");

    // A double click on the empty roll adds a note there, selected.
    QTest::mouseDClick(&e.v(), Qt::LeftButton, {}, e.at(5.0, 62));
    ASSERT_NE(e.note(62), nullptr);
    EXPECT_NEAR(e.note(62)->onset, 5.0, kColumn);
    EXPECT_TRUE(e.note(62)->selected);
    EXPECT_EQ(e.undoText(), "&Rückgängig: Note hinzufügen");
    // Drawn: a double click held and dragged on gives the new note its length.
    const QPoint p0 = e.at(7.0, 63);
    QTest::mousePress(&e.v(), Qt::LeftButton, {}, p0);
    QTest::mouseRelease(&e.v(), Qt::LeftButton, {}, p0);
    QMouseEvent held(QEvent::MouseButtonDblClick, p0, e.v().mapToGlobal(p0), Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(&e.v(), &held);
    QTest::mouseMove(&e.v(), p0 + QPoint(20, 0));
    QTest::mouseMove(&e.v(), p0 + QPoint(40, 0));
    QTest::mouseRelease(&e.v(), Qt::LeftButton, {}, p0 + QPoint(40, 0));
    ASSERT_NE(e.note(63), nullptr);
    EXPECT_NEAR(e.note(63)->offset, e.note(63)->onset + 0.25 + 40 * kColumn, 1e-9);
    EXPECT_EQ(e.undoText(), "&Rückgängig: Notenlänge ändern");
    QTest::keyClick(&e.v(), Qt::Key_Delete);
    ASSERT_EQ(e.note(63), nullptr);
    QTest::mouseClick(&e.v(), Qt::LeftButton, {}, e.at(5.1, 62));

    // The velocity field.
    m.AnschlagEd->setValue(33);
    EXPECT_EQ(e.note(62)->velocity, 33);
    EXPECT_EQ(e.undoText(), "&Rückgängig: Anschlag ändern");

    // Ctrl+click toggles, Shift+click adds; a drag then moves every selected note.
    QTest::mouseClick(&e.v(), Qt::LeftButton, {}, e.at(2.5, 60));
    QTest::mouseClick(&e.v(), Qt::LeftButton, Qt::ControlModifier, e.at(5.1, 62));
    EXPECT_EQ(e.v().list().selectedCount(), 2u);
    QTest::mouseClick(&e.v(), Qt::LeftButton, Qt::ControlModifier, e.at(5.1, 62));
    EXPECT_EQ(e.v().list().selectedCount(), 1u);
    QTest::mouseClick(&e.v(), Qt::LeftButton, Qt::ShiftModifier, e.at(5.1, 62));
    EXPECT_EQ(e.v().list().selectedCount(), 2u);
    const double before60 = e.note(60)->onset, before62 = e.note(62)->onset;
    e.drag(e.at(2.5, 60), e.at(2.5, 60) + QPoint(8, 0));
    EXPECT_NEAR(e.note(60)->onset, before60 + 8 * kColumn, 1e-9);
    EXPECT_NEAR(e.note(62)->onset, before62 + 8 * kColumn, 1e-9);
    m.Rckgngig1->trigger();

    // A rubber band from 1 s over key 66 to 12 s over key 59 takes 60 and 62, not 67.
    e.drag(e.at(1.0, 66), e.at(12.0, 59));
    EXPECT_EQ(e.v().list().selectedCount(), 2u);
    EXPECT_TRUE(e.note(60)->selected && e.note(62)->selected);

    // Everything taken back, step by step: the notes as found.
    while (m.undoHistory.canUndo()) m.Rckgngig1->trigger();
    EXPECT_EQ(e.v().notes(), original);
    while (m.undoHistory.canRedo()) m.Wiederherstellen1->trigger();
    EXPECT_EQ(e.v().list().size(), 3u);

    // A change of the recording drops the notes; its undo comes first, the
    // note steps before it no longer apply and change nothing.
    m.Lauter101->trigger();
    EXPECT_FALSE(e.v().hasNotes());
    EXPECT_FALSE(m.HasUnsavedNoteEdits());
    while (m.undoHistory.canUndo()) m.Rckgngig1->trigger();
    EXPECT_FALSE(e.v().hasNotes());
}

TEST(NoteEditor, MovesSnapToTheBeatsOrTheGridAndTheSelectionIsQuantised) {
    Editor e;
    e.open({{60, 2.0, 2.4, 100}, {62, 3.1, 3.3, 80}});
    TMainForm& m = *e.form;
    std::vector<BeatLine> beats;
    for (int i = 0; i < 60; ++i) beats.push_back({0.5 * i, i % 4 == 0});
    e.v().setBeats(beats);

    // Without snapping the note goes where the mouse goes.
    EXPECT_EQ(m.EinrastenBox->currentText(), "Aus");
    e.drag(e.at(2.1, 60), e.at(2.1, 60) + QPoint(10, 0));
    EXPECT_NEAR(e.note(60)->onset, 2.0 + 10 * kColumn, 1e-9);
    m.Rckgngig1->trigger();
    // On the beats: 2.375 s goes to the beat at 2.5.
    m.EinrastenBox->setCurrentText("Schläge");
    e.drag(e.at(2.1, 60), e.at(2.1, 60) + QPoint(10, 0));
    EXPECT_DOUBLE_EQ(e.note(60)->onset, 2.5);
    EXPECT_NEAR(e.note(60)->offset, 2.9, 1e-9);
    // A move that snaps back to where the note is changes nothing and leaves no step.
    const size_t steps = m.undoHistory.undoCount();
    e.drag(e.at(2.6, 60), e.at(2.6, 60) + QPoint(3, 0));
    EXPECT_DOUBLE_EQ(e.note(60)->onset, 2.5);
    EXPECT_EQ(m.undoHistory.undoCount(), steps);
    // A new note starts on the grid and lasts one step of it.
    m.EinrastenBox->setCurrentText("1/8");
    QTest::mouseDClick(&e.v(), Qt::LeftButton, {}, e.at(7.3, 65));
    ASSERT_NE(e.note(65), nullptr);
    EXPECT_DOUBLE_EQ(e.note(65)->onset, 7.25);
    EXPECT_DOUBLE_EQ(e.note(65)->offset, 7.5);

    // Quantising the selection: onsets and ends to the eighths.
    QTest::mouseClick(&e.v(), Qt::LeftButton, {}, e.at(3.2, 62));
    EXPECT_TRUE(m.Auswahlquantisieren1->isEnabled());
    m.QuantisierenBtn->click();
    EXPECT_DOUBLE_EQ(e.note(62)->onset, 3.0);
    EXPECT_DOUBLE_EQ(e.note(62)->offset, 3.25);
    EXPECT_EQ(e.undoText(), "&Rückgängig: Noten quantisieren");
}

TEST(NoteEditor, TheAccurateSaveWritesWhatTheViewShowsAndUnsavedEditsAreAskedFor) {
    TempDir dir;
    Editor e;
    e.open();
    TMainForm& m = *e.form;
    m.modelFile = dir.file("no-model-here.nvm");  // the network is never needed
    e.drag(e.at(10.2, 64), e.at(10.2, 64) + QPoint(20, -e.v().rowHeight()));
    QTest::keyClick(&e.v(), Qt::Key_Delete);
    QTest::mouseDClick(&e.v(), Qt::LeftButton, {}, e.at(6.0, 50));
    const std::vector<TranscribedNote> shown = e.v().notes();
    ASSERT_EQ(shown.size(), 3u);
    ASSERT_TRUE(m.HasUnsavedNoteEdits());

    // Opening another file asks first; "Nein" keeps everything.
    e.prompts.messageAnswers.push_back(MB_NO);
    m.OpenFile(QString::fromStdString(dir.file("other.wav")));
    ASSERT_EQ(e.prompts.messages.size(), 1u);
    EXPECT_EQ(e.prompts.messages[0].caption, "Geänderte Noten");
    EXPECT_TRUE(e.prompts.messages[0].text.startsWith("Die Noten wurden geändert und noch nicht gespeichert"));
    EXPECT_EQ(e.v().notes(), shown);
    // So does quitting.
    e.prompts.messageAnswers.push_back(MB_NO);
    EXPECT_FALSE(m.FormCloseQuery());
    e.prompts.messages.clear();

    TempoChoices chosen;
    e.prompts.answerFile(QString::fromStdString(dir.file("edited.mid")));
    e.prompts.dialogAnswers.push_back([&](QDialog& d) {
        chosen = static_cast<TTempoForm&>(d).choices();
        return int(QDialog::Accepted);
    });
    m.SpeichernalsMIDgenaueErkennung1->trigger();
    EXPECT_TRUE(e.prompts.messages.empty()) << e.prompts.messageTexts().join("; ").toStdString();
    const std::string written = readFile(dir.file("edited.mid"));
    ASSERT_FALSE(written.empty());
    // The same file as the notes shown give, laid out with the choices made.
    ASSERT_TRUE(SaveTempoMapped(AnalyseTempo(m.document, sorted(shown)), sorted(shown), chosen, dir.file("expected.mid")));
    EXPECT_EQ(written, readFile(dir.file("expected.mid")));
    EXPECT_FALSE(m.HasUnsavedNoteEdits());
    EXPECT_EQ(e.v().notes(), shown);
    // Saved: no question any more, and the steps can still be undone.
    e.prompts.messageAnswers.push_back(MB_CANCEL);
    EXPECT_TRUE(m.FormCloseQuery() || !e.prompts.messages.empty());
    EXPECT_EQ(e.prompts.messages.size(), 1u);  // only the program's own closing question
    EXPECT_NE(e.prompts.messages[0].caption, "Geänderte Noten");
    EXPECT_TRUE(m.undoHistory.canUndo());
}

TEST(NoteEditor, SensitivityAndShortestNoteDecodeAgainWithoutTheNetwork) {
    TempDir dir;
    const std::string model = notavox::testing::writeSmallModel(dir.file("notes.nvm"));
    Editor e;
    TMainForm& m = *e.form;
    m.resize(1100, 800);
    m.show();
    m.modelFile = model;
    AudioDocument doc = notavox::testing::toneRecording(16000, false, true, 20.0, {{440.0, 0.3}, {660.0, 0.2}});
    m.document.replace(std::move(doc.sampleData), doc.byteCount, doc.sampleRate, doc.stereo, doc.sixteenBit);
    m.RecordingOpened(QString());
    EXPECT_FALSE(m.EmpfindlichkeitEd->isEnabled());
    m.Notenerkennen1->trigger();
    ASSERT_TRUE(e.prompts.messages.empty()) << e.prompts.messageTexts().join("; ").toStdString();
    ASSERT_TRUE(m.keptOutputs && !m.keptOutputs->empty());
    EXPECT_EQ(m.keptOutputs->frames(), 2001);  // 100 frames a second, and the one at the end
    ASSERT_TRUE(m.EmpfindlichkeitEd->isEnabled());
    EXPECT_EQ(m.EmpfindlichkeitEd->value(), recognition::SensitivityPercent(m.keptSettings));
    EXPECT_EQ(m.KuerzesteNoteEd->value(), recognition::ShortestNoteMs(m.keptSettings));
    // The kept outputs decode to the notes the analysis found.
    const std::vector<TranscribedNote> found = e.v().notes();
    EXPECT_EQ(found, m.keptOutputs->decode(m.keptSettings));

    // Without the model from here on.
    std::filesystem::remove(model);
    const auto expected = [&](int percent, int ms) {
        recognition::DecodeOverrides o;
        o.sensitivityPercent = percent;
        o.shortestNoteMs = ms;
        return m.keptOutputs->decode(recognition::WithOverrides(m.keptSettings, o));
    };
    m.EmpfindlichkeitEd->setValue(99);
    const std::vector<TranscribedNote> many = e.v().notes();
    EXPECT_EQ(many, expected(99, m.KuerzesteNoteEd->value()));
    m.EmpfindlichkeitEd->setValue(1);
    const std::vector<TranscribedNote> few = e.v().notes();
    EXPECT_EQ(few, expected(1, m.KuerzesteNoteEd->value()));
    EXPECT_GT(many.size(), few.size());
    EXPECT_EQ(e.undoText(), "&Rückgängig: Empfindlichkeit ändern");
    m.EmpfindlichkeitEd->setValue(99);
    m.KuerzesteNoteEd->setValue(200);
    const std::vector<TranscribedNote> longer = e.v().notes();
    EXPECT_EQ(longer, expected(99, 200));
    EXPECT_LT(longer.size(), many.size());
    for (const TranscribedNote& n : longer) EXPECT_GE(n.offset - n.onset, 0.2 - 1e-9);
    EXPECT_EQ(e.undoText(), "&Rückgängig: Kürzeste Note ändern");
    m.Rckgngig1->trigger();
    EXPECT_EQ(e.v().notes(), many);
    EXPECT_TRUE(e.prompts.messages.empty());
}

// The converter has the same two settings, and with them writes the file the
// window saves after they were changed there.
TEST(NoteEditor, TheConverterTakesSensitivityAndShortestNote) {
    TempDir dir;
    std::ofstream(dir.file("notes.nvm"), std::ios::binary)
        << notavox::testing::modelBytes(notavox::testing::randomModel(4, 4, 8, 7));
    std::filesystem::copy_file(notavox::testing::kConvertTool, dir.file("notavox-convert"));
    AudioDocument doc = notavox::testing::toneRecording(16000, false, true, 12.0, {{440.0, 0.3}, {660.0, 0.2}});
    ASSERT_TRUE(WriteWAVFile(dir.file("in.wav"), doc.sampleData.get(), false, true, 16000, doc.byteCount));
    const auto convert = [&](const std::string& flags, const std::string& out) {
        const std::string cmd = "'" + dir.file("notavox-convert") + "' -q " + flags + " '" + dir.file("in.wav") +
                                "' '" + dir.file(out) + "' 2>&1";
        return WEXITSTATUS(std::system(cmd.c_str()));
    };

    Editor e;
    TMainForm& m = *e.form;
    m.modelFile = dir.file("notes.nvm");
    m.document.replace(std::move(doc.sampleData), doc.byteCount, doc.sampleRate, doc.stereo, doc.sixteenBit);
    m.RecordingOpened(QString());
    m.Notenerkennen1->trigger();
    ASSERT_TRUE(m.EmpfindlichkeitEd->isEnabled());
    m.EmpfindlichkeitEd->setValue(90);
    m.KuerzesteNoteEd->setValue(50);
    e.prompts.answerFile(QString::fromStdString(dir.file("window.mid")));
    e.prompts.dialogAnswers.push_back([](QDialog&) { return int(QDialog::Accepted); });
    m.SpeichernalsMIDgenaueErkennung1->trigger();
    ASSERT_TRUE(e.prompts.messages.empty()) << e.prompts.messageTexts().join("; ").toStdString();

    ASSERT_EQ(convert("--accurate --sensitivity 90 --min-note 50", "tool.mid"), 0);
    ASSERT_EQ(convert("--accurate", "plain.mid"), 0);
    EXPECT_EQ(readFile(dir.file("window.mid")), readFile(dir.file("tool.mid")));
    EXPECT_NE(readFile(dir.file("plain.mid")), readFile(dir.file("tool.mid")));
    // Out of range, or without --accurate: a wrong call.
    EXPECT_EQ(convert("--accurate --sensitivity 0", "bad.mid"), 2);
    EXPECT_EQ(convert("--accurate --min-note 5", "bad.mid"), 2);
    EXPECT_EQ(convert("--min-note 50", "bad.mid"), 2);
    EXPECT_FALSE(std::filesystem::exists(dir.file("bad.mid")));
}

// PLAY with "Noten" lets hear the notes as edited: A4 moved up an octave sounds as A5.
TEST(NoteEditor, TheEditedNotesAreHeard) {
    if (FindSoundFont().empty()) GTEST_SKIP() << "no sound font installed";
    Editor e;
    e.open({{69, 0.0, 0.5, 100}});
    TMainForm& m = *e.form;
    m.SchleifeCheck->setChecked(false);
    e.v().setFocus();
    QTest::keyClick(&e.v(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&e.v(), Qt::Key_Up, Qt::ShiftModifier);
    ASSERT_NE(e.note(81), nullptr);
    m.WiedergabeBox->setCurrentIndex(1);  // "Noten"
    m.PlayBtn->click();
    const std::vector<int16_t> out = e.sound.playedLeft();
    ASSERT_GE(out.size(), size_t(8192 + 4410));
    const double a4 = energyAt(out, 4410, 8192, 440.0, 44100), a5 = energyAt(out, 4410, 8192, 880.0, 44100);
    EXPECT_GT(a5, 1e-5);
    EXPECT_GT(a5, 20 * a4);
}

// Notes of the simple detection are no reason to skip the accurate analysis;
// once corrected they are the user's and are written as they are.
TEST(NoteEditor, SimpleDetectionNotesAreWrittenOnlyOnceCorrected) {
    TempDir dir;
    Editor e;
    e.open();
    TMainForm& m = *e.form;
    m.notesOfSimpleDetection = true;  // as "Noten erkennen" without "Genaue Erkennung" leaves them
    m.modelFile = dir.file("no-model-here.nvm");
    e.prompts.answerFile(QString::fromStdString(dir.file("a.mid")));
    m.SpeichernalsMIDgenaueErkennung1->trigger();
    ASSERT_EQ(e.prompts.messages.size(), 1u);  // the analysis was tried: its model is missing
    EXPECT_TRUE(e.prompts.messages[0].text.contains("no-model-here.nvm")) << e.prompts.messages[0].text.toStdString();
    e.prompts.messages.clear();
    QTest::mouseClick(&e.v(), Qt::LeftButton, {}, e.at(2.5, 60));
    QTest::keyClick(&e.v(), Qt::Key_Delete);
    e.prompts.answerFile(QString::fromStdString(dir.file("b.mid")));
    e.prompts.dialogAnswers.push_back([](QDialog&) { return int(QDialog::Accepted); });
    m.SpeichernalsMIDgenaueErkennung1->trigger();
    EXPECT_TRUE(e.prompts.messages.empty()) << e.prompts.messageTexts().join("; ").toStdString();
    EXPECT_TRUE(std::filesystem::exists(dir.file("b.mid")));
}
