// The edit commands and the effects of the main window: selections dragged
// on the waveform, the time-span dialog answered through the prompt seam.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "app/EchoFUnit.h"
#include "app/MainUnit.h"
#include "support/ShownForm.h"

using namespace notavox;
using Form = notavox::testing::ShownForm;

TEST(EditCommands, CropCutAndSelectNothingThroughButtonsAndMenu) {
    Form f;
    TMainForm& m = f.m();
    std::vector<int> v;
    for (int i = 0; i < 400; ++i) v.push_back(i % 256);
    f.load8(v, true);  // 200 frames
    m.ZoomOutEd->setValue(1);
    f.drag(11, 20);    // frames 5..9
    m.CropToSelection->click();
    ASSERT_EQ(m.document.byteCount, 10);
    EXPECT_EQ(f.value(0), 10);
    EXPECT_EQ(f.value(9), 19);
    EXPECT_EQ(m.document.selectionStart, 0);
    EXPECT_EQ(m.ZoomOutEd->value(), 1) << "Ganze Datei of a short recording";

    f.load8(v, true);
    m.ZoomOutEd->setValue(1);
    f.drag(20, 11);
    m.DieAuswahlwegschneiden1->trigger();
    ASSERT_EQ(m.document.byteCount, 390);
    EXPECT_EQ(f.value(9), 9);
    EXPECT_EQ(f.value(10), 20);

    f.drag(3, 9);
    m.Nichtsauswhlen1->trigger();
    EXPECT_EQ(m.document.selectionStart, 0);
    EXPECT_EQ(m.document.selectionEnd, 0);
    m.CutSelectionBtn->click();
    EXPECT_EQ(m.document.byteCount, 390) << "nothing selected: no cut";
}

// The time-span dialog opens with its number field focused and its text
// selected, so that typing replaces it; Return means OK.
TEST(Effects, TimeSpanDialogFocusesTheFieldAndReturnMeansOk) {
    Form f;
    TMainForm& m = f.m();
    f.load16({1000, 0, 0, 0, 0, 0, 0}, false);
    for (int round = 0; round < 2; ++round) {
        f.prompts.dialogAnswers.push_back([&](QDialog& d) {
            auto& echo = dynamic_cast<TEchoForm&>(d);
            EXPECT_EQ(echo.focusWidget(), echo.ZeitEd);
            auto* edit = echo.ZeitEd->findChild<QLineEdit*>();
            EXPECT_TRUE(edit && edit->hasSelectedText() && edit->selectedText() == edit->text());
            // Return goes to OK wherever the focus is: OK is the default
            // button and "Abbrechen" never takes Return for itself.
            EXPECT_TRUE(echo.OKBtn->isDefault());
            EXPECT_FALSE(echo.CancelBtn->autoDefault());
            return QDialog::Accepted;
        });
        m.Echo1->trigger();
        EXPECT_EQ(f.value(5), 500) << round;  // accepted: the echo of 0.5 s was added
        f.load16({1000, 0, 0, 0, 0, 0, 0}, false);
    }
}

TEST(Effects, EchoAndFadesAskForTheSpanWithTheirDefaults) {
    Form f;
    TMainForm& m = f.m();
    f.load16({1000, 0, 0, 0, 0, 0, 0}, false);  // 10 frames per second
    f.answerSpan(0.5, 0.2);
    m.Echo1->trigger();
    EXPECT_EQ(f.value(2), 500);
    EXPECT_EQ(f.value(4), 250);
    EXPECT_EQ(f.prompts.dialogsShown.back(), "EchoForm");

    f.answerSpan(2.0, 0.2, false);  // "Abbrechen"
    m.Weicheinblenden1->trigger();
    EXPECT_EQ(f.value(0), 1000);

    f.answerSpan(2.0, 0.4);
    m.Weicheinblenden1->trigger();
    EXPECT_EQ(f.value(0), 0);
    EXPECT_EQ(f.value(2), 250);

    f.load16({1000, -1000, 1000, -1000, 1000, -1000, 1000, -1000}, true);
    f.drag(0, 0);
    m.document.selectionStart = 2;
    m.document.selectionEnd = 6;  // frames 1..3
    f.answerSpan(2.0, 0.2);
    m.Weichausblenden1->trigger();
    EXPECT_EQ(f.value(2), 1000);
    EXPECT_EQ(f.value(4), 500);
    EXPECT_EQ(f.value(5), -500);
    EXPECT_EQ(f.value(6), 0);
    EXPECT_EQ(m.document.selectionEnd, 6);
}

TEST(Effects, CrossfadeResetsSelectionAndZoom) {
    Form f;
    TMainForm& m = f.m();
    f.load16({100, 200, 300, 400, 500, 600, 700, 800}, false);
    m.ZoomOutEd->setValue(50);
    m.document.selectionStart = 1;
    m.document.selectionEnd = 3;
    f.answerSpan(2.0, 0.2);
    m.EndeaufAnfangberblenden1->trigger();
    ASSERT_EQ(m.document.byteCount, 12);
    EXPECT_EQ(f.value(0), 500);
    EXPECT_EQ(f.value(5), 700);
    EXPECT_EQ(m.document.selectionStart, 0);
    EXPECT_EQ(m.ZoomOutEd->value(), 1);

    f.answerSpan(2.0, 5.0);  // longer than the recording
    m.EndeaufAnfangberblenden1->trigger();
    EXPECT_EQ(m.document.byteCount, 12);
    EXPECT_TRUE(f.prompts.messages.empty());
}

TEST(Effects, VolumeReverseAndSpeedFromTheMenu) {
    Form f;
    TMainForm& m = f.m();
    f.load8({192, 64, 129, 128}, false);
    m.MaximaleLautstrke1->trigger();
    EXPECT_EQ(f.value(0), 255);
    EXPECT_EQ(f.value(1), 0);
    EXPECT_EQ(f.value(2), 130);
    m.Leiser101->trigger();
    EXPECT_EQ(f.value(0), 243);
    m.Lauter101->trigger();
    EXPECT_EQ(f.value(0), 254) << "115 * 110 div 100 = 126: not restored exactly";
    m.Rckwrts1->trigger();
    EXPECT_EQ(f.value(0), 128);
    EXPECT_EQ(f.value(3), 254);
    m.Schneller101->trigger();
    EXPECT_EQ(m.document.sampleRate, 8800);
    m.Langsamer101->trigger();
    EXPECT_EQ(m.document.sampleRate, 8000);
    EXPECT_TRUE(f.prompts.dialogsShown.empty());
}

TEST(EchoForm, ControlsAndTwoDecimalDisplay) {
    TEchoForm d;
    EXPECT_EQ(d.windowTitle(), "Effekt");
    EXPECT_EQ(d.Label1->text(), "Zeitspanne:");
    EXPECT_EQ(d.Label2->text(), "Sekunden");
    EXPECT_EQ(d.CancelBtn->text(), "Abbrechen");
    EXPECT_DOUBLE_EQ(d.ZeitEd->minimum(), 0.000001);
    EXPECT_DOUBLE_EQ(d.ZeitEd->maximum(), 100.0);
    d.ZeitEd->setValue(2.0);
    EXPECT_EQ(d.ZeitEd->text(), d.ZeitEd->locale().toString(2.0, 'f', 2));
    d.ZeitEd->setValue(0.000001);
    EXPECT_DOUBLE_EQ(d.ZeitEd->value(), 0.000001);
}
