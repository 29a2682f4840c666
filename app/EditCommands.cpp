// The edit commands and the effects of the "Effekte" menu.
#include "app/MainUnit.h"

namespace notavox {

void TMainForm::CropToSelectionClick() {}
void TMainForm::CutSelectionBtnClick() {}
void TMainForm::SelectNothingBtnClick() {}
void TMainForm::Echo1Click() {}
void TMainForm::Weicheinblenden1Click() {}
void TMainForm::Weichausblenden1Click() {}
void TMainForm::EndeaufAnfangberblenden1Click() {}
void TMainForm::MaximaleLautstrke1Click() {}
void TMainForm::Lauter101Click() {}
void TMainForm::Leiser101Click() {}
void TMainForm::Rckwrts1Click() {}
void TMainForm::Schneller101Click() {}
void TMainForm::Langsamer101Click() {}

}  // namespace notavox
