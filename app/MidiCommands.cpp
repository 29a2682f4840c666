// "Speichern als MID..." and the sample format dialog.
#include <QFileInfo>

#include "app/MainUnit.h"
#include "audio/SampleFormat.h"
#include "app/SampleFormatFUnit.h"
#include "recognition/SongNotes.h"
#include "transcription/MidiConversion.h"
#include "transcription/NoteList.h"

namespace notavox {

void TMainForm::CreateTranscription() {
    song = new Song();  // a fresh 16-track song
    SampleFormat = new TSampleFormat(this);
}

void TMainForm::ReleaseTranscription() {
    delete song;  // DelAllTracks and the track list
    song = nullptr;
}

FileDialogRequest TMainForm::SaveDialog2() const {
    FileDialogRequest r;
    r.filter = "MIDI Dateien (*.mid)|*.mid;*.midi";
    r.defaultExt = "MID";
    r.overwritePrompt = true;
    r.initialDir = lastFolder;  // the first time as ever: the dialog's own choice
    return r;
}

namespace {

// Puts the analysis format into the dialog's controls, as the standard-format
// step does before it converts.
void showStandardTarget(TSampleFormat& dialog) { dialog.setTarget(kStandardFormat); }

}  // namespace

void TMainForm::ChangeFormatClick() {
    SampleFormat->setTarget(SampleFormatTarget{document.stereo, document.sixteenBit, document.sampleRate});
    if (document.byteCount == 0) return;
    if (prompts().showModal(*SampleFormat) != QDialog::Accepted) return;
    BeginChange("Sampleformat ändern", PlanForWhole());
    const FormatResult r = ConvertSampleFormat(document, SampleFormat->target());
    EndChange();
    if (r != FormatResult::Converted) {
        if (*FormatResultMessage(r)) ShowMessage(QString::fromUtf8(FormatResultMessage(r)), MsgIcon::Error);
        return;
    }
    ZoomOutFullClick();
    PaintBox1Paint();
}

void TMainForm::Button1Click() {
    if (document.byteCount == 0) return;
    const FileDialogResult chosen = prompts().saveFile(this, SaveDialog2());
    if (!chosen.accepted || chosen.fileName.isEmpty()) return;
    RememberFolder(chosen.fileName);
    QString name = chosen.fileName;
    if (QFileInfo(name).suffix().isEmpty()) name += ".MID";

    // The same conversion as notavox-convert; the window shows its steps.
    MidiConversionHooks hooks;
    // The analysis works on a converted copy: the recording in the window
    // keeps its format and samples.
    hooks.formatStep = [this](FormatResult r) {
        if (r == FormatResult::Unchanged) return;  // already 8-bit mono
        showStandardTarget(*SampleFormat);
        if (r != FormatResult::Converted)
            ShowMessage(QString::fromStdString(FormatResultMessage(r, document.sampleRate)), MsgIcon::Error);
    };
    hooks.detectionDone = [this] { PaintBox1Paint(); };
    hooks.statusText = [this](const char* text) {
        StatusBar1->setPanelText(0, QString::fromUtf8(text));
        StatusBar1->repaint();
    };
    std::vector<TranscribedNote> notes;
    bool written = false;
    hooks.fileWritten = [&](bool ok) {
        written = ok;
        if (!ok) ShowMessage(QString::fromUtf8(kMidiFileErrorText), MsgIcon::Error);
        else notes = recognition::NotesInSong(*song);  // read only: the file is already written
    };
    // The recording is not changed, so there is nothing to undo.
    ConvertRecordingToMIDI(document, *song, toFileName(name), *this, hooks);
    // The status panel stays as the save leaves it.
    if (written) ShowNotes(std::move(notes), false);
}

}  // namespace notavox
