// Reading a track from an audio CD.
#include "app/MainUnit.h"

namespace notavox {

void TMainForm::MusikCDBtnClick() {}

}  // namespace notavox
