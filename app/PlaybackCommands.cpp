// Playback through the sound device: the Qt side. The loop itself, the
// resampling and the cursor position are in sound/PlaybackLoop.
#include <QCheckBox>
#include <QPushButton>

#include "app/MainUnit.h"
#include "sound/PlaybackLoop.h"
#include "view/NoteView.h"

namespace notavox {

bool TMainForm::SetupSound() {
    soundDevice = services_.sound;
    if (soundDevice->open()) return true;
    ShowMessage(kSoundSetupFailedText, MsgIcon::None, MB_OK);
    return false;
}

void TMainForm::ReleaseSound() {
    if (soundDevice) soundDevice->close();
    soundDevice = nullptr;
}

void TMainForm::PlayBtnClick() {
    // PLAY is disabled while playing; the guard also keeps a click that was
    // queued before from starting a second loop inside the first.
    if (playing || busy() || !soundDevice) return;
    // A device that could not be had is tried again; if it still cannot,
    // the user is told instead of hearing nothing.
    if (!soundDevice->isOpen() && !soundDevice->open()) {
        ShowMessage(kSoundDeviceFailedText);
        return;
    }
    // "Noten" and "Aufnahme + Noten": the notes through the synthesiser.
    NoteSynth synth;
    std::unique_ptr<NoteMixer> mixer;
    if (playSource() != PlaySource::Recording) {
        const std::string font = FindSoundFont(soundFontPaths);
        if (font.empty()) {
            ShowMessage(QString::fromUtf8(kNoSoundFontText), MsgIcon::Error);
            return;
        }
        if (!NoteView1->hasNotes()) {
            ShowMessage("Zu dieser Aufnahme gibt es noch keine Noten. Bitte zuerst \"Noten erkennen\" "
                        "(Menü \"Ansicht\") oder eine Speicherung als MID ausführen.",
                        MsgIcon::Information);
            return;
        }
        std::string error;
        if (!synth.open(font, document.sampleRate, NoteView1->notes(), error)) {
            ShowMessage(QString::fromStdString(error), MsgIcon::Error);
            return;
        }
        mixer = std::make_unique<NoteMixer>(synth, playSource());
    }
    playing = true;
    UpdateCommands();

    PlaybackCallbacks callbacks;
    callbacks.loopChecked = [this] { return SchleifeCheck->isChecked(); };
    callbacks.recording = [this]() -> const AudioDocument& { return document; };
    callbacks.view = [this] { return ViewScroll{PaintBox1->zoom(), PaintBox1->position()}; };
    // The view follows the cursor when it leaves the visible part.
    callbacks.drawCursor = [this](int64_t column) { PaintBox1->showCursor(PaintBox1->follow(column)); };
    callbacks.mixer = mixer.get();
    const PlaybackEnd end = runPlayback(*soundDevice, *this, callbacks);

    PaintBox1->hideCursor();
    playing = false;
    UpdateCommands();
    PaintBox1Paint();
    if (end == PlaybackEnd::notStarted) ShowMessage(kSoundDeviceFailedText);
}

void TMainForm::StopBTNClick() {
    setStopRequested(true);
    if (busy()) workRunner.cancel();  // the long work on the worker thread
}

}  // namespace notavox
