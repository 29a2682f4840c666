// "Speichern als MID..." and the sample format dialog.
#include "app/MainUnit.h"

namespace notavox {

void TMainForm::Button1Click() {}
void TMainForm::ChangeFormatClick() {}
bool TMainForm::ChangeFormatToStandart() { return false; }

}  // namespace notavox
