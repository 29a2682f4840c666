// "Speichern als Notenblatt (MusicXML)...": the notes of the accurate
// analysis as a score. The notes are the ones the window holds (found
// before, perhaps edited since); without any the recording is analysed
// first, on the worker thread, as for "Speichern als MID (genaue
// Erkennung)...". The tempo dialog shows what was found, and the score is
// laid out with its choices, as notavox-convert does for a .musicxml output.
#include <QAction>
#include <QFileInfo>
#include <QMenu>

#include "app/MainUnit.h"
#include "app/TempoFUnit.h"
#include "notation/ScoreExport.h"
#include "recognition/AccurateConversion.h"
#include "recognition/Recogniser.h"
#include "view/NoteView.h"

namespace notavox {

namespace {

constexpr const char* kScoreErrorText = "Das Notenblatt konnte nicht gespeichert werden.";

double lengthSeconds(const AudioDocument& doc) {
    return doc.sampleRate > 0 ? double(doc.frameCount()) / doc.sampleRate : 0.0;
}

}  // namespace

void TMainForm::BuildScoreControls() {
    // "Datei": after the accurate MIDI save.
    SpeichernalsNotenblatt1 =
        InsertActionAfter(*Datei1, SpeichernalsMIDgenaueErkennung1, "Speichern als &Notenblatt (MusicXML)...",
                          "SpeichernalsNotenblatt1", [this] { SpeichernalsNotenblatt1Click(); });
}

FileDialogRequest TMainForm::ScoreDialog() const {
    FileDialogRequest r;
    r.filter = "MusicXML Dateien (*.musicxml)|*.musicxml;*.xml|MusicXML gepackt (*.mxl)|*.mxl";
    r.defaultExt = "musicxml";
    r.overwritePrompt = true;
    r.initialDir = lastFolder;
    return r;
}

void TMainForm::SpeichernalsNotenblatt1Click() {
    if (busy() || document.byteCount == 0) return;
    const FileDialogResult chosen = prompts().saveFile(this, ScoreDialog());
    if (!chosen.accepted || chosen.fileName.isEmpty()) return;
    QString name = chosen.fileName;
    if (QFileInfo(name).suffix().isEmpty()) name += chosen.filterIndex == 2 ? ".mxl" : ".musicxml";
    const std::string fileName = toFileName(name);

    std::vector<TranscribedNote> notes = NoteView1->notes();
    TempoAnalysis analysis;
    if (!notes.empty()) {
        // The notes the window shows: only beats, metre and key are found.
        StatusBar1->setPanelText(0, "Takt und Tonart werden erkannt...");
        const bool done = RunLongWork([&](OperationHost& host, const std::atomic<bool>&) {
            host.SetProStatus(0);
            analysis = AnalyseTempo(document, notes);
        });
        StatusBar1->setPanelText(0, QString());
        if (!done) {
            StatusBar1->setPanelText(0, recognition::kCancelledText);
            return;
        }
    } else {
        const recognition::Recogniser* recognise = ReadyRecogniser();
        if (!recognise) return;
        recognition::AccurateOutcome outcome;
        const recognition::NotesWriter analyse = [&](const std::vector<TranscribedNote>& found, const std::string&) {
            analysis = AnalyseTempo(document, found);
            notes = found;
            return true;
        };
        StatusBar1->setPanelText(0, "Noten werden erkannt...");
        RunLongWork([&](OperationHost& host, const std::atomic<bool>& cancel) {
            outcome = recognise->convert(document, fileName, host, cancel, 0, analyse);
        });
        if (!AccurateAnalysisDone(outcome)) return;
    }

    TTempoForm dialog(analysis.found, this);
    const bool accepted = prompts().showModal(dialog) == QDialog::Accepted;
    const TempoChoices choices = accepted ? dialog.choices() : TempoChoices();
    const TempoMappedLayout layout = LayOutTempoMapped(analysis, notes, choices);
    ShowNotes(notes, false);
    NoteView1->setBeats(BeatLines(analysis, layout, choices, lengthSeconds(document)));
    if (!accepted) {
        StatusBar1->setPanelText(0, "Nicht gespeichert");
        return;
    }
    std::string cause;
    if (!notation::SaveScoreFromAnalysis(analysis, notes, choices, fileName, &cause)) {
        ShowMessage(QString(kScoreErrorText) + (cause.empty() ? QString() : "\n" + QString::fromStdString(cause)),
                    MsgIcon::Error);
        return;
    }
    RememberFolder(name);
    StatusBar1->setPanelText(0, QString("Notenblatt gespeichert: %1 Noten").arg(qulonglong(notes.size())));
}

}  // namespace notavox
