// The tempo dialog of the accurate save: what was found and the same beats at
// half and twice the tempo, one click each, and the file those choices lay out.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QRadioButton>
#include <QTest>

#include "app/TempoFUnit.h"

using namespace notavox;

namespace {

// 120 beats a minute from 0.5 s on, bars of four from the second beat.
TempoAnalysis Found120() {
    TempoAnalysis a;
    for (int i = 0; i < 32; ++i) a.found.beats.beats.push_back(0.5 + 0.5 * i);
    a.found.beats.tempoBpm = 120;
    a.found.metre.beatsPerBar = 4;
    a.found.metre.firstDownbeat = 1;
    a.envelope.frameRate = 100;
    a.envelope.flux.assign(1800, 0.0f);
    a.envelope.lowFlux.assign(1800, 0.0f);
    return a;
}

std::vector<TranscribedNote> OnTheBeats(const TempoAnalysis& a) {
    std::vector<TranscribedNote> notes;
    for (double b : a.found.beats.beats) notes.push_back({60, b, b + 0.3, 90});
    return notes;
}

TEST(TempoForm, OffersTheTempoFoundAndItsHalfAndDouble) {
    const TempoAnalysis a = Found120();
    TTempoForm form(a.found);
    EXPECT_TRUE(form.FoundLabel->text().startsWith("Gefunden: 120 Schläge pro Minute, 4/4-Takt"))
        << form.FoundLabel->text().toStdString();
    EXPECT_EQ(form.HalbBtn->text(), "&halb so schnell: 60");
    EXPECT_EQ(form.GefundenBtn->text(), "&wie gefunden: 120");
    EXPECT_EQ(form.DoppeltBtn->text(), "&doppelt so schnell: 240");
    EXPECT_TRUE(form.GefundenBtn->isChecked());
    EXPECT_EQ(form.choices().level, TempoLevel::Found);

    // One click on half the tempo: the file has a beat every second.
    QTest::mouseClick(form.HalbBtn, Qt::LeftButton);
    EXPECT_TRUE(form.HalbBtn->isChecked());
    EXPECT_FALSE(form.GefundenBtn->isChecked());
    TempoChoices c = form.choices();
    EXPECT_EQ(c.level, TempoLevel::Half);
    EXPECT_EQ(c.tempoBpm, 0.0);  // still following the beats
    EXPECT_DOUBLE_EQ(form.TempoEd->value(), 60.0);
    const std::vector<TranscribedNote> notes = OnTheBeats(a);
    TempoMappedLayout half = LayOutTempoMapped(a, notes, c);
    ASSERT_FALSE(half.placed.map.segments().empty());
    EXPECT_EQ(half.placed.map.segments().back().microsPerQuarter, 1000000u);
    // The bars' first beats stay beats: the first downbeat found (1.0 s) is on a bar line.
    const double barTicks = 500.0 * half.metre.beatsPerBar;
    const double down = half.placed.map.tickAt(a.found.beats.beats[1]) - double(half.placed.upbeatTicks);
    EXPECT_NEAR(down - std::round(down / barTicks) * barTicks, 0.0, 0.01);
    const std::vector<BeatLine> halfLines = BeatLines(a, half, c, 16.0);
    ASSERT_GE(halfLines.size(), 2u);
    EXPECT_DOUBLE_EQ(halfLines[0].seconds, 1.0);
    EXPECT_DOUBLE_EQ(halfLines[1].seconds, 2.0);

    // And on twice the tempo: a beat every quarter second.
    QTest::mouseClick(form.DoppeltBtn, Qt::LeftButton);
    c = form.choices();
    EXPECT_EQ(c.level, TempoLevel::Double);
    EXPECT_DOUBLE_EQ(form.TempoEd->value(), 240.0);
    const TempoMappedLayout twice = LayOutTempoMapped(a, notes, c);
    EXPECT_EQ(twice.placed.map.segments().back().microsPerQuarter, 250000u);

    // A fixed tempo starts from the level chosen.
    form.FolgenCheck->setChecked(false);
    EXPECT_DOUBLE_EQ(form.choices().tempoBpm, 240.0);
}

TEST(TempoForm, WithoutBeatsNoLevelsToChoose) {
    TempoAnalysis a;
    TTempoForm form(a.found);
    EXPECT_TRUE(form.FoundLabel->text().startsWith("Gefunden: kein Tempo"));
    EXPECT_FALSE(form.HalbBtn->isEnabled());
    EXPECT_FALSE(form.DoppeltBtn->isEnabled());
    EXPECT_EQ(form.HalbBtn->text(), "&halb so schnell");
}

}  // namespace
