// Playback through the sound device: the Qt side. The loop itself, the
// resampling and the cursor position are in sound/PlaybackLoop.
#include <QCheckBox>
#include <QPushButton>

#include "app/MainUnit.h"
#include "sound/PlaybackLoop.h"

namespace notavox {

bool TMainForm::SetupSound() {
    soundDevice = services_.sound;
    if (soundDevice->open()) return true;
    ShowMessage("Konnte DirectSound (DirectX) nicht initialisieren...", MsgIcon::None, MB_OK);
    return false;
}

void TMainForm::ReleaseSound() {
    if (soundDevice) soundDevice->close();
    soundDevice = nullptr;
}

void TMainForm::PlayBtnClick() {
    // PLAY is disabled while playing; the guard also keeps a click that was
    // queued before from starting a second loop inside the first.
    if (playing || !soundDevice || !soundDevice->isOpen()) return;
    playing = true;
    PlayBtn->setEnabled(false);
    StopBTN->setEnabled(true);

    PlaybackCallbacks callbacks;
    callbacks.loopChecked = [this] { return SchleifeCheck->isChecked(); };
    callbacks.recording = [this]() -> const AudioDocument& { return document; };
    callbacks.view = [this] { return ViewScroll{PaintBox1->zoom(), PaintBox1->position()}; };
    // The view follows the cursor when it leaves the visible part.
    callbacks.drawCursor = [this](int64_t column) { PaintBox1->showCursor(PaintBox1->follow(column)); };
    runPlayback(*soundDevice, *this, callbacks);

    PaintBox1->hideCursor();
    PlayBtn->setEnabled(true);
    StopBTN->setEnabled(false);
    playing = false;
    PaintBox1Paint();
}

void TMainForm::StopBTNClick() { setStopRequested(true); }

}  // namespace notavox
