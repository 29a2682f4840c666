// The edit commands and the effects of the "Effekte" menu. The work is done
// by audio/EditOps and audio/Effects; here the time span is asked for, the
// undo step recorded and the view refreshed.
#include <QAction>
#include <QMenu>

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

// One entry per item of "Effekte", in menu order.
struct EffectCommand {
    QAction* TMainForm::*action;
    const char* objectName;
    const char* caption;   // without '&' and "..." also the name of the undo step
    double dialogSeconds;  // the time-span dialog's default; 0: no dialog
    enum Plan { Frames, Whole, FormatOnly } plan;
    // Does the work; true when the recording was replaced.
    bool (*apply)(AudioDocument& doc, double seconds);
    bool separatorAfter;
};

namespace {

constexpr EffectCommand kEffects[] = {
    {&TMainForm::Echo1, "Echo1", "E&cho...", kEchoDefaultSeconds, EffectCommand::Frames,
     [](AudioDocument& d, double s) { return Echo(d, s), false; }, false},
    {&TMainForm::Weicheinblenden1, "Weicheinblenden1", "Weich e&inblenden", kFadeDefaultSeconds,
     EffectCommand::Frames, [](AudioDocument& d, double s) { return FadeIn(d, s), false; }, false},
    {&TMainForm::Weichausblenden1, "Weichausblenden1", "Weich &ausblenden", kFadeDefaultSeconds,
     EffectCommand::Frames, [](AudioDocument& d, double s) { return FadeOut(d, s), false; }, false},
    {&TMainForm::EndeaufAnfangberblenden1, "EndeaufAnfangberblenden1", "Ende auf Anfang &überblenden",
     kCrossfadeDefaultSeconds, EffectCommand::Whole, &CrossfadeEndOntoStart, true},
    {&TMainForm::MaximaleLautstrke1, "MaximaleLautstrke1", "&Maximale Lautstärke", 0, EffectCommand::Frames,
     [](AudioDocument& d, double) { return MaximumVolume(d), false; }, false},
    {&TMainForm::Lauter101, "Lauter101", "&Lauter 10%", 0, EffectCommand::Frames,
     [](AudioDocument& d, double) { return Louder10(d), false; }, false},
    {&TMainForm::Leiser101, "Leiser101", "Lei&ser 10%", 0, EffectCommand::Frames,
     [](AudioDocument& d, double) { return Quieter10(d), false; }, true},
    {&TMainForm::Rckwrts1, "Rckwrts1", "&Rückwärts", 0, EffectCommand::Frames,
     [](AudioDocument& d, double) { return Reverse(d), false; }, true},
    // The speed changes only change the rate: the picture stays as it is.
    {&TMainForm::Schneller101, "Schneller101", "Sc&hneller 10%", 0, EffectCommand::FormatOnly,
     [](AudioDocument& d, double) { return Faster10(d), false; }, false},
    {&TMainForm::Langsamer101, "Langsamer101", "Lan&gsamer 10%", 0, EffectCommand::FormatOnly,
     [](AudioDocument& d, double) { return Slower10(d), false; }, false},
};

}  // namespace

void TMainForm::BuildEffectsMenu(QMenu* menu) {
    for (const EffectCommand& e : kEffects) {
        QAction* a = menu->addAction(QString::fromUtf8(e.caption));
        a->setObjectName(e.objectName);
        connect(a, &QAction::triggered, this, [this, &e] { RunEffect(e); });
        this->*e.action = a;
        if (e.separatorAfter) menu->addSeparator();
    }
}

void TMainForm::RunEffect(const EffectCommand& e) {
    double seconds = 0;
    if (e.dialogSeconds > 0 && !AskTimeSpan(e.dialogSeconds, seconds)) return;
    const QString name = QString::fromUtf8(e.caption).remove('&').remove("...");
    const ChangePlan plan = e.plan == EffectCommand::Frames ? PlanForEffect(document)
                            : e.plan == EffectCommand::Whole ? PlanForWhole()
                                                             : PlanForFormatOnly();
    BeginChange(name, plan);
    const bool replaced = e.apply(document, seconds);
    EndChange();
    if (replaced) ZoomOutFullClick();
    if (e.plan != EffectCommand::FormatOnly) PaintBox1Paint();
}

}  // namespace notavox
