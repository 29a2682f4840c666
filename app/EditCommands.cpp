// The edit commands and the effects of the "Effekte" menu. The work is done
// by audio/EditOps and audio/Effects; here the time span is asked for and
// the view is refreshed.
#include "app/MainUnit.h"
#include "app/EchoFUnit.h"
#include "audio/EditOps.h"
#include "audio/Effects.h"

namespace notavox {

bool TMainForm::AskTimeSpan(double defaultSeconds, double& seconds) {
    EchoForm->ZeitEd->setValue(defaultSeconds);
    // The number field has the focus and its text is selected, so that what
    // is typed replaces it; Return means OK.
    EchoForm->ZeitEd->setFocus();
    EchoForm->ZeitEd->selectAll();
    if (prompts().showModal(*EchoForm) != QDialog::Accepted) return false;
    seconds = EchoForm->ZeitEd->value();
    return true;
}

void TMainForm::CropToSelectionClick() {
    if (!notavox::CropToSelection(document)) return;
    ZoomOutFullClick();
    PaintBox1Paint();
}

void TMainForm::CutSelectionBtnClick() {
    if (!CutSelection(document)) return;
    ZoomOutFullClick();
    PaintBox1Paint();
}

void TMainForm::SelectNothingBtnClick() {
    SelectNothing(document);
    PaintBox1Paint();
}

void TMainForm::Echo1Click() {
    double seconds = 0;
    if (!AskTimeSpan(kEchoDefaultSeconds, seconds)) return;
    Echo(document, seconds);
    PaintBox1Paint();
}

void TMainForm::Weicheinblenden1Click() {
    double seconds = 0;
    if (!AskTimeSpan(kFadeDefaultSeconds, seconds)) return;
    FadeIn(document, seconds);
    PaintBox1Paint();
}

void TMainForm::Weichausblenden1Click() {
    double seconds = 0;
    if (!AskTimeSpan(kFadeDefaultSeconds, seconds)) return;
    FadeOut(document, seconds);
    PaintBox1Paint();
}

void TMainForm::EndeaufAnfangberblenden1Click() {
    double seconds = 0;
    if (!AskTimeSpan(kCrossfadeDefaultSeconds, seconds)) return;
    if (CrossfadeEndOntoStart(document, seconds)) ZoomOutFullClick();
    PaintBox1Paint();
}

void TMainForm::MaximaleLautstrke1Click() {
    MaximumVolume(document);
    PaintBox1Paint();
}

void TMainForm::Lauter101Click() {
    Louder10(document);
    PaintBox1Paint();
}

void TMainForm::Leiser101Click() {
    Quieter10(document);
    PaintBox1Paint();
}

void TMainForm::Rckwrts1Click() {
    Reverse(document);
    PaintBox1Paint();
}

void TMainForm::Schneller101Click() { Faster10(document); }

void TMainForm::Langsamer101Click() { Slower10(document); }

}  // namespace notavox
