// Playback through the sound device.
#include "app/MainUnit.h"

namespace notavox {

bool TMainForm::SetupSound() { return true; }
void TMainForm::ReleaseSound() {}
void TMainForm::PlayBtnClick() {}
void TMainForm::StopBTNClick() {}

}  // namespace notavox
