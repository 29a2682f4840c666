// The notes in the window: the accurate analysis ("Speichern als MID (genaue
// Erkennung)..." and "Noten erkennen"), the note view under the waveform,
// the choice of what PLAY lets hear, and the long work on the worker thread
// with its progress and STOP.
#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include "app/MainUnit.h"
#include "app/TempoFUnit.h"
#include "audio/SafeFile.h"
#include "recognition/AccurateConversion.h"
#include "recognition/Recogniser.h"
#include "recognition/SongNotes.h"
#include "transcription/MidiConversion.h"
#include "view/NoteView.h"

namespace notavox {

namespace {

constexpr const char* kRecognisingText = "Noten werden erkannt...";

// Repaints the note view whenever the waveform view paints: both show the
// same columns, selection and cursor.
class FollowWaveView : public QObject {
public:
    FollowWaveView(QWidget* notes, QObject* parent) : QObject(parent), notes_(notes) {}
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && notes_->isVisible()) notes_->update();
        return false;
    }

private:
    QWidget* notes_;
};

}  // namespace

void TMainForm::BuildNoteControls() {
    // "Datei": the accurate save after "Speichern als MID...", and its button
    // beside that command's.
    SpeichernalsMIDgenaueErkennung1 =
        InsertActionAfter(*Datei1, SpeichernalsMID1, "Speichern als MID (genaue &Erkennung)...",
                          "SpeichernalsMIDgenaueErkennung1", [this] { SpeichernalsMIDgenaueErkennung1Click(); });
    // The caption is too long for one line in the space beside the fixed
    // command: two lines, over two rows of buttons.
    Button2 = new QPushButton("Speichern als MID\n(gena&ue Erkennung)...", Panel2);
    Button2->setObjectName("Button2");
    Button2->setGeometry(200, 40, 193, 57);
    connect(Button2, &QPushButton::clicked, this, [this] { SpeichernalsMIDgenaueErkennung1Click(); });

    // "Ansicht": the note view and the analysis without a file.
    Ansicht1->addSeparator();
    Notenanzeigen1 = Ansicht1->addAction("&Noten anzeigen");
    Notenanzeigen1->setObjectName("Notenanzeigen1");
    Notenanzeigen1->setCheckable(true);
    connect(Notenanzeigen1, &QAction::triggered, this, [this] { Notenanzeigen1Click(); });
    Notenerkennen1 = Ansicht1->addAction("N&oten erkennen");
    Notenerkennen1->setObjectName("Notenerkennen1");
    connect(Notenerkennen1, &QAction::triggered, this, [this] { Notenerkennen1Click(); });
    GenaueErkennung1 = Ansicht1->addAction("Gena&ue Erkennung");
    GenaueErkennung1->setObjectName("GenaueErkennung1");
    GenaueErkennung1->setCheckable(true);
    GenaueErkennung1->setChecked(true);

    // Escape ends the long work, as STOP does.
    Abbrechen1 = new QAction("Abbrechen", this);
    Abbrechen1->setObjectName("Abbrechen1");
    Abbrechen1->setShortcut(QKeySequence(Qt::Key_Escape));
    Abbrechen1->setShortcutContext(Qt::WindowShortcut);
    Abbrechen1->setEnabled(false);
    addAction(Abbrechen1);
    connect(Abbrechen1, &QAction::triggered, this, [this] { StopBTNClick(); });

    // What PLAY lets hear.
    WiedergabeBox = new QComboBox(Panel1);
    WiedergabeBox->setObjectName("WiedergabeBox");
    WiedergabeBox->addItems({"Aufnahme", "Noten", "Aufnahme + Noten"});
    WiedergabeBox->setToolTip("Was PLAY abspielt");
    WiedergabeBox->setGeometry(584, 72, 104, 25);

    // The note view under the waveform, above the scroll bar that both
    // follow; hidden until there are notes or the user asks for it.
    BuildNoteEditor();
    PaintBox1->installEventFilter(new FollowWaveView(NoteView1, this));
}

const recognition::Recogniser* TMainForm::ReadyRecogniser() {
    if (!recogniser || !recogniser->ready()) recogniser = std::make_unique<recognition::Recogniser>(modelFile);
    if (recogniser->ready()) return recogniser.get();
    ShowMessage(QString::fromStdString(recogniser->message()), MsgIcon::Error);
    return nullptr;
}

PlaySource TMainForm::playSource() const {
    switch (WiedergabeBox->currentIndex()) {
        case 1: return PlaySource::Notes;
        case 2: return PlaySource::RecordingAndNotes;
        default: return PlaySource::Recording;
    }
}

void TMainForm::SetBusy(bool value) {
    busy_ = value;
    UpdateCommands();
}

bool TMainForm::RunLongWork(const TWorkRunner::Work& work) {
    SetBusy(true);
    struct Done {
        TMainForm& f;
        ~Done() { f.SetBusy(false); }
    } done{*this};
    return workRunner.run(work);
}

void TMainForm::ShowNotes(std::vector<TranscribedNote> notes, bool announce) {
    const size_t count = notes.size();
    NotePane->show();
    NoteView1->setNotes(notes);
    SetNoteEditsSaved();
    notesOfSimpleDetection = false;
    Notenanzeigen1->setChecked(true);
    if (announce)
        StatusBar1->setPanelText(0, count == 0 ? QString("Keine Noten gefunden")
                                               : QString("%1 Noten erkannt").arg(qulonglong(count)));
}

void TMainForm::Notenanzeigen1Click() { NotePane->setVisible(Notenanzeigen1->isChecked()); }

namespace {

double seconds(const AudioDocument& doc) {
    return doc.sampleRate > 0 ? double(doc.frameCount()) / doc.sampleRate : 0.0;
}

}  // namespace

void TMainForm::SpeichernalsMIDgenaueErkennung1Click() {
    if (busy() || document.byteCount == 0) return;
    const FileDialogResult chosen = prompts().saveFile(this, SaveDialog2());
    if (!chosen.accepted || chosen.fileName.isEmpty()) return;
    QString name = chosen.fileName;
    if (QFileInfo(name).suffix().isEmpty()) name += ".MID";
    // The notes in the view, edits and all, when they are there: only the
    // beats, metre and key are analysed for them. Notes of the simple
    // detection are written only once the user corrected them.
    if (NoteView1->hasNotes() && !notesOfSimpleDetection) {
        SaveShownNotes(toFileName(name));
        return;
    }
    const recognition::Recogniser* recognise = ReadyRecogniser();
    if (!recognise) return;

    // The converter's own entry point, so that the file is the one
    // notavox-convert --accurate writes. Its writer only analyses the beats,
    // metre and key on the worker thread; the file is written after the
    // user saw them in the dialog.
    recognition::AccurateOutcome outcome;
    std::vector<TranscribedNote> notes;
    TempoAnalysis analysis;
    const std::string fileName = toFileName(name);
    const recognition::NotesWriter analyse = [&](const std::vector<TranscribedNote>& found, const std::string&) {
        analysis = AnalyseTempo(document, found);
        notes = found;
        return true;
    };
    StatusBar1->setPanelText(0, kRecognisingText);
    auto outputs = std::make_shared<recognition::NetworkOutputs>(KeptOutputsLimit());
    recognition::DecodeSettings modelSettings;
    recognition::AccurateTuning tuning{ChosenDecoding(), outputs.get(), &modelSettings};
    RunLongWork([&](OperationHost& host, const std::atomic<bool>& cancel) {
        outcome = recognise->convert(document, fileName, host, cancel, 0, analyse, nullptr, tuning);
    });
    if (!AccurateAnalysisDone(outcome)) return;

    KeepNetworkOutputs(outputs, modelSettings);
    TTempoForm dialog(analysis.found, this);
    if (prompts().showModal(dialog) != QDialog::Accepted) {
        // Not saved, but the notes are there to be seen.
        ShowNotes(std::move(notes), false);
        NoteView1->setBeats(BeatLines(analysis, LayOutTempoMapped(analysis, NoteView1->notes(), TempoChoices()),
                                      TempoChoices(), seconds(document)));
        StatusBar1->setPanelText(0, "Nicht gespeichert");
        return;
    }
    const TempoChoices choices = dialog.choices();
    int error = 0;
    if (!SaveTempoMapped(analysis, notes, choices, fileName, &error)) {
        const std::string cause = SaveErrorText(error);
        ShowMessage(QString::fromUtf8(kMidiFileErrorText) + (cause.empty() ? "" : "\n") + QString::fromStdString(cause),
                    MsgIcon::Error);
        return;
    }
    const TempoMappedLayout layout = LayOutTempoMapped(analysis, notes, choices);
    ShowNotes(std::move(notes));
    NoteView1->setBeats(BeatLines(analysis, layout, choices, seconds(document)));
}

void TMainForm::Notenerkennen1Click() {
    if (busy() || document.byteCount == 0) return;
    if (!GenaueErkennung1->isChecked()) {
        // The analysis of "Speichern als MID..." into a file that is thrown
        // away; its notes are collected on the way (Button1Click).
        QTemporaryDir scratch;
        if (!scratch.isValid()) return;
        std::vector<TranscribedNote> notes;
        bool written = false;
        MidiConversionHooks hooks;
        hooks.formatStep = [this](FormatResult r) {
            if (r == FormatResult::Converted) {
                ZoomOutFullClick();
                PaintBox1Paint();
            } else if (r != FormatResult::Unchanged) {
                ShowMessage(QString::fromStdString(FormatResultMessage(r, document.sampleRate)), MsgIcon::Error);
            }
        };
        hooks.fileWritten = [&](bool ok) {
            written = ok;
            if (ok) notes = recognition::NotesInSong(*song);
        };
        ConvertRecordingToMIDI(document, *song, toFileName(scratch.filePath("notes.mid")), *this, hooks);
        KeepNetworkOutputs(nullptr, keptSettings);
        PaintBox1Paint();
        if (written) {
            ShowNotes(std::move(notes));
            notesOfSimpleDetection = true;
        }
        return;
    }

    const recognition::Recogniser* recognise = ReadyRecogniser();
    if (!recognise) return;
    recognition::Transcription t;
    TempoAnalysis analysis;
    std::string error;
    auto outputs = std::make_shared<recognition::NetworkOutputs>(KeptOutputsLimit());
    recognition::DecodeSettings modelSettings;
    const recognition::DecodeOverrides overrides = ChosenDecoding();
    StatusBar1->setPanelText(0, kRecognisingText);
    RunLongWork([&](OperationHost& host, const std::atomic<bool>& cancel) {
        try {
            modelSettings = recognise->model().decode;
            const recognition::DecodeSettings decode = recognition::WithOverrides(modelSettings, overrides);
            recognition::TranscribeOptions options;
            options.decode = &decode;
            options.outputs = [&](int64_t t0, int count, const float* on, const float* fr, const float* ve,
                                  size_t stride) { outputs->add(t0, count, on, fr, ve, stride); };
            t = recognise->transcribe(document, host, &cancel, options);
            if (t.error.empty() && !t.cancelled) analysis = AnalyseTempo(document, t.notes);
        } catch (const std::bad_alloc&) {
            error = "Nicht genug Speicher für die Analyse";
        }
        if (!t.error.empty()) error = t.error;
    });
    StatusBar1->setPanelText(0, QString());
    if (!error.empty()) {
        ShowMessage(QString::fromStdString(error), MsgIcon::Error);
    } else if (t.cancelled || workRunner.cancelRequested()) {
        StatusBar1->setPanelText(0, recognition::kCancelledText);
    } else {
        const TempoMappedLayout layout = LayOutTempoMapped(analysis, t.notes, TempoChoices());
        KeepNetworkOutputs(outputs, modelSettings);
        ShowNotes(std::move(t.notes));
        NoteView1->setBeats(BeatLines(analysis, layout, TempoChoices(), seconds(document)));
    }
}

}  // namespace notavox

namespace notavox {

void TMainForm::SaveShownNotes(const std::string& fileName) {
    const std::vector<TranscribedNote> notes = NoteView1->notes();
    TempoAnalysis analysis;
    StatusBar1->setPanelText(0, "Takt und Tonart werden bestimmt...");
    const bool finished = RunLongWork([&](OperationHost&, const std::atomic<bool>&) {
        analysis = AnalyseTempo(document, notes);
    });
    StatusBar1->setPanelText(0, QString());
    if (!finished || workRunner.cancelRequested()) {
        StatusBar1->setPanelText(0, recognition::kCancelledText);
        return;
    }
    TTempoForm dialog(analysis.found, this);
    if (prompts().showModal(dialog) != QDialog::Accepted) {
        StatusBar1->setPanelText(0, "Nicht gespeichert");
        return;
    }
    const TempoChoices choices = dialog.choices();
    if (!SaveTempoMapped(analysis, notes, choices, fileName)) {
        ShowMessage(QString::fromUtf8(kMidiFileErrorText), MsgIcon::Error);
        return;
    }
    SetNoteEditsSaved();
    NoteView1->setBeats(BeatLines(analysis, LayOutTempoMapped(analysis, notes, choices), choices, seconds(document)));
    StatusBar1->setPanelText(0, QString("%1 Noten gespeichert").arg(qulonglong(notes.size())));
}

bool TMainForm::AccurateAnalysisDone(const recognition::AccurateOutcome& outcome) {
    StatusBar1->setPanelText(0, QString());
    switch (outcome.result) {
        case recognition::AccurateResult::Written: return true;
        case recognition::AccurateResult::Cancelled:
            StatusBar1->setPanelText(0, recognition::kCancelledText);
            return false;
        case recognition::AccurateResult::NoRecording: return false;
        default: ShowMessage(QString::fromStdString(outcome.message), MsgIcon::Error); return false;
    }
}

}  // namespace notavox
