// MP3 import and export.
#include "app/MainUnit.h"

namespace notavox {

void TMainForm::SetupCodecs() {}
void TMainForm::ConvertMP3WAV(const QString&, const QString&) {}
void TMainForm::SaveAsMP3File(const QString&) {}

}  // namespace notavox
