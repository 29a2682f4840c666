// Playback through the sound device: the Qt side. The loop itself, the
// resampling and the cursor position are in view/PlaybackLoop.
#include <QCheckBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>

#include <algorithm>

#include "app/MainUnit.h"
#include "view/PlaybackLoop.h"
#include "view/PortAudioSound.h"

namespace notavox {

bool TMainForm::SetupSound() {
    soundDevice = services_.sound;
    if (!soundDevice) {
        ownSoundDevice = std::make_shared<PortAudioSound>();
        soundDevice = ownSoundDevice.get();
    }
    if (soundDevice->open()) return true;
    ShowMessage("Konnte DirectSound (DirectX) nicht initialisieren...", MsgIcon::None, MB_OK);
    return false;
}

void TMainForm::ReleaseSound() {
    if (soundDevice) soundDevice->close();
    soundDevice = nullptr;
    ownSoundDevice.reset();
}

void TMainForm::PlayBtnClick() {
    // PLAY is disabled while playing; the guard also keeps a click that was
    // queued before from starting a second loop inside the first.
    if (playing || !soundDevice) return;
    // A device that could not be had is tried again; if it still cannot,
    // the user is told instead of hearing nothing.
    if (!soundDevice->isOpen() && !soundDevice->open()) {
        ShowMessage(kSoundDeviceFailedText);
        return;
    }
    playing = true;
    PlayBtn->setEnabled(false);
    StopBTN->setEnabled(true);

    PlaybackCallbacks callbacks;
    callbacks.loopChecked = [this] { return SchleifeCheck->isChecked(); };
    callbacks.recording = [this]() -> const AudioDocument& { return document; };
    callbacks.view = [this] { return ViewScroll{std::max(1, ZoomOutEd->value()), RxSlider1->value()}; };
    callbacks.drawCursor = [this](int64_t column) {
        // Columns far outside the view are all equally invisible.
        playCursorColumn = static_cast<int32_t>(std::clamp<int64_t>(column, -1, PaintBox1->width()));
        PaintBox1->repaint();
    };
    const PlaybackEnd end = runPlayback(*soundDevice, *this, callbacks);

    playCursorColumn = -1;
    PlayBtn->setEnabled(true);
    StopBTN->setEnabled(false);
    playing = false;
    PaintBox1Paint();
    if (end == PlaybackEnd::notStarted) ShowMessage(kSoundDeviceFailedText);
}

void TMainForm::StopBTNClick() { setStopRequested(true); }

}  // namespace notavox
