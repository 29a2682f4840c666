#include "app/TempoFUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <array>
#include <cmath>

namespace notavox {

namespace {

struct MetreChoice {
    int beatsPerBar;
    bool compound;
};
constexpr std::array<MetreChoice, 6> kMetres{{{2, false}, {3, false}, {4, false}, {2, true}, {3, true}, {4, true}}};

struct GridChoice {
    const char* text;
    QuantizeGrid grid;
};
const std::array<GridChoice, 6> kGrids{{{"Aus", QuantizeGrid::Off},
                                        {"1/4", QuantizeGrid::Quarter},
                                        {"1/8", QuantizeGrid::Eighth},
                                        {"1/16", QuantizeGrid::Sixteenth},
                                        {"1/8T", QuantizeGrid::EighthTriplet},
                                        {"1/16T", QuantizeGrid::SixteenthTriplet}}};

// The 24 keys: the major keys on C..B, then the minor keys.
KeyEstimate keyAt(int index) {
    KeyEstimate k;
    k.tonic = index % 12;
    k.minor = index >= 12;
    return k;
}

int metreIndex(const Metre& m) {
    for (size_t i = 0; i < kMetres.size(); ++i)
        if (kMetres[i].beatsPerBar == m.beatsPerBar && kMetres[i].compound == m.compound) return int(i);
    return 2;
}

}  // namespace

QString MetreText(const Metre& metre) { return QString("%1/%2").arg(metre.numerator()).arg(metre.denominator()); }

TTempoForm::TTempoForm(const RhythmAnalysis& found, QWidget* parent) : QDialog(parent), found_(found) {
    setObjectName("TempoForm");
    setWindowTitle("Tempo, Takt und Tonart");

    const double bpm = found.beats.tempoBpm;
    const QString tempoText = bpm > 0 ? QString("%1 Schläge pro Minute").arg(std::lround(bpm)) : QString("kein Tempo");
    FoundLabel = new QLabel(QString("Gefunden: %1, %2-Takt, %3")
                                .arg(tempoText, MetreText(found.metre), QString::fromStdString(found.key.name())),
                            this);

    FolgenCheck = new QCheckBox("Tempo den gefundenen &Schlägen folgen lassen", this);
    FolgenCheck->setChecked(true);
    const auto levelText = [&](const char* text, TempoLevel level) {
        const double b = TempoAtLevel(found, level);
        return b > 0 ? QString("%1: %2").arg(text).arg(std::lround(b)) : QString(text);
    };
    HalbBtn = new QRadioButton(levelText("&halb so schnell", TempoLevel::Half), this);
    GefundenBtn = new QRadioButton(levelText("&wie gefunden", TempoLevel::Found), this);
    DoppeltBtn = new QRadioButton(levelText("&doppelt so schnell", TempoLevel::Double), this);
    GefundenBtn->setChecked(true);
    auto* levels = new QHBoxLayout;
    levels->addWidget(HalbBtn);
    levels->addWidget(GefundenBtn);
    levels->addWidget(DoppeltBtn);
    levels->addStretch();
    TempoEd = new QDoubleSpinBox(this);
    TempoEd->setObjectName("TempoEd");
    TempoEd->setRange(kSlowestFixedBpm, kFastestFixedBpm);
    TempoEd->setDecimals(1);
    TempoEd->setSuffix(" Schläge pro Minute");
    TempoEd->setValue(bpm > 0 ? std::clamp(std::round(bpm * 10) / 10, kSlowestFixedBpm, kFastestFixedBpm) : 120.0);

    TaktBox = new QComboBox(this);
    TaktBox->setObjectName("TaktBox");
    for (const MetreChoice& m : kMetres) TaktBox->addItem(MetreText(Metre{m.beatsPerBar, m.compound, 0}));
    TaktBox->setCurrentIndex(metreIndex(found.metre));

    TonartBox = new QComboBox(this);
    TonartBox->setObjectName("TonartBox");
    for (int i = 0; i < 24; ++i) TonartBox->addItem(QString::fromStdString(keyAt(i).name()));
    TonartBox->setCurrentIndex(found.key.tonic + (found.key.minor ? 12 : 0));

    QuantisierenBox = new QComboBox(this);
    QuantisierenBox->setObjectName("QuantisierenBox");
    for (const GridChoice& g : kGrids) QuantisierenBox->addItem(g.text);
    StaerkeEd = new QSpinBox(this);
    StaerkeEd->setObjectName("StaerkeEd");
    StaerkeEd->setRange(0, 100);
    StaerkeEd->setValue(100);
    StaerkeEd->setSuffix(" %");

    auto* grid = new QGridLayout;
    auto label = [&](const char* text, QWidget* buddy, int row) {
        auto* l = new QLabel(text, this);
        l->setBuddy(buddy);
        grid->addWidget(l, row, 0);
        grid->addWidget(buddy, row, 1);
    };
    grid->addWidget(new QLabel("Schläge pro Minute:", this), 0, 0);
    grid->addLayout(levels, 0, 1);
    grid->addWidget(FolgenCheck, 1, 0, 1, 2);
    label("Festes &Tempo:", TempoEd, 2);
    label("T&akt:", TaktBox, 3);
    label("T&onart:", TonartBox, 4);
    label("&Quantisieren auf:", QuantisierenBox, 5);
    label("Stä&rke:", StaerkeEd, 6);

    OKBtn = new QPushButton("OK", this);
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton("Abbrechen", this);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);

    auto* column = new QVBoxLayout(this);
    column->addWidget(FoundLabel);
    column->addLayout(grid);
    column->addLayout(buttons);

    connect(FolgenCheck, &QCheckBox::toggled, this, [this] { updateEnabled(); });
    // The fixed tempo starts from the level chosen.
    for (QRadioButton* b : {HalbBtn, GefundenBtn, DoppeltBtn})
        connect(b, &QRadioButton::toggled, this, [this](bool on) {
            const double t = TempoAtLevel(found_, level());
            if (on && t > 0) TempoEd->setValue(std::clamp(std::round(t * 10) / 10, kSlowestFixedBpm, kFastestFixedBpm));
        });
    connect(QuantisierenBox, &QComboBox::currentIndexChanged, this, [this] { updateEnabled(); });
    updateEnabled();
}

void TTempoForm::updateEnabled() {
    TempoEd->setEnabled(!FolgenCheck->isChecked());
    const bool beats = found_.beats.tempoBpm > 0;
    HalbBtn->setEnabled(beats);
    DoppeltBtn->setEnabled(beats);
    StaerkeEd->setEnabled(QuantisierenBox->currentIndex() > 0);
}

TempoLevel TTempoForm::level() const {
    if (HalbBtn->isChecked()) return TempoLevel::Half;
    if (DoppeltBtn->isChecked()) return TempoLevel::Double;
    return TempoLevel::Found;
}

TempoChoices TTempoForm::choices() const {
    TempoChoices c;
    c.level = level();
    c.tempoBpm = FolgenCheck->isChecked() ? 0.0 : TempoEd->value();
    c.grid = kGrids[size_t(std::clamp(QuantisierenBox->currentIndex(), 0, int(kGrids.size()) - 1))].grid;
    c.strengthPercent = StaerkeEd->value();
    // Only what the user changed overrides what was found, so that the file
    // is the converter's when nothing was changed.
    const int metre = TaktBox->currentIndex();
    if (metre >= 0 && metre != metreIndex(found_.metre))
        c.metre = Metre{kMetres[size_t(metre)].beatsPerBar, kMetres[size_t(metre)].compound, 0};
    const int key = TonartBox->currentIndex();
    if (key >= 0 && key != found_.key.tonic + (found_.key.minor ? 12 : 0)) c.key = keyAt(key);
    return c;
}

}  // namespace notavox
