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
    BeginChange("Zur Auswahl zurechtschneiden", PlanForCrop(document));
    const bool cropped = notavox::CropToSelection(document);
    EndChange();
    if (!cropped) return;
    ZoomOutFullClick();
    PaintBox1Paint();
}

void TMainForm::CutSelectionBtnClick() {
    BeginChange("Die Auswahl wegschneiden", PlanForCut(document));
    const bool cut = CutSelection(document);
    EndChange();
    if (!cut) return;
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
    BeginChange("Echo", PlanForEffect(document));
    Echo(document, seconds);
    EndChange();
    PaintBox1Paint();
}

void TMainForm::Weicheinblenden1Click() {
    double seconds = 0;
    if (!AskTimeSpan(kFadeDefaultSeconds, seconds)) return;
    BeginChange("Weich einblenden", PlanForEffect(document));
    FadeIn(document, seconds);
    EndChange();
    PaintBox1Paint();
}

void TMainForm::Weichausblenden1Click() {
    double seconds = 0;
    if (!AskTimeSpan(kFadeDefaultSeconds, seconds)) return;
    BeginChange("Weich ausblenden", PlanForEffect(document));
    FadeOut(document, seconds);
    EndChange();
    PaintBox1Paint();
}

void TMainForm::EndeaufAnfangberblenden1Click() {
    double seconds = 0;
    if (!AskTimeSpan(kCrossfadeDefaultSeconds, seconds)) return;
    BeginChange("Ende auf Anfang überblenden", PlanForWhole());
    const bool replaced = CrossfadeEndOntoStart(document, seconds);
    EndChange();
    if (replaced) ZoomOutFullClick();
    PaintBox1Paint();
}

void TMainForm::MaximaleLautstrke1Click() {
    BeginChange("Maximale Lautstärke", PlanForEffect(document));
    MaximumVolume(document);
    EndChange();
    PaintBox1Paint();
}

void TMainForm::Lauter101Click() {
    BeginChange("Lauter 10%", PlanForEffect(document));
    Louder10(document);
    EndChange();
    PaintBox1Paint();
}

void TMainForm::Leiser101Click() {
    BeginChange("Leiser 10%", PlanForEffect(document));
    Quieter10(document);
    EndChange();
    PaintBox1Paint();
}

void TMainForm::Rckwrts1Click() {
    BeginChange("Rückwärts", PlanForEffect(document));
    Reverse(document);
    EndChange();
    PaintBox1Paint();
}

void TMainForm::Schneller101Click() {
    BeginChange("Schneller 10%", PlanForFormatOnly());
    Faster10(document);
    EndChange();
}

void TMainForm::Langsamer101Click() {
    BeginChange("Langsamer 10%", PlanForFormatOnly());
    Slower10(document);
    EndChange();
}

}  // namespace notavox
