// Correcting the notes in the window: the splitter between the waveform and
// the note view, the note view's tools ("Tonumfang einpassen", snapping,
// quantising, velocity, "Empfindlichkeit" and "Kürzeste Note"), the edits as
// steps of the undo history, and the question before unsaved note edits go.
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <QScrollBar>
#include <QSettings>
#include <QSpinBox>
#include <QSplitter>
#include <QVBoxLayout>
#include <limits>

#include "app/MainUnit.h"
#include "audio/MemoryBudget.h"
#include "view/NoteView.h"

namespace notavox {

namespace {

// An edit of the notes in the undo history: the same change taken back or
// again. It no longer applies once the notes were replaced by new ones.
class NoteEditStep : public UndoAction {
public:
    NoteEditStep(TMainForm& form, uint64_t generation, NoteChange change)
        : form_(form), generation_(generation), change_(std::move(change)) {}
    void undo() override { take(true); }
    void redo() override { take(false); }
    size_t size() const override { return change_.bytes(); }

private:
    void take(bool reverse) {
        TNoteView& view = *form_.NoteView1;
        if (view.list().generation() != generation_) return;
        view.list().apply(change_, reverse);
        form_.noteEditsUnsaved = true;
        view.commit({});  // repaint, and the tools show the selection
    }

    TMainForm& form_;
    uint64_t generation_;
    NoteChange change_;
};

// The waveform stands over the note view's time axis: as far in from the
// left as the keyboard and from the right as the scroll bar, while the
// notes are shown. It holds the widgets, not the window: it also sees the
// pane hidden while the window is taken down.
class AlignWaveform : public QObject {
public:
    AlignWaveform(QWidget* waveBox, TNoteView* view, QSplitter* splitter, bool remembered)
        : QObject(view), waveBox_(waveBox), view_(view), splitter_(splitter), remembered_(remembered) {}
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show || e->type() == QEvent::Hide) {
            const bool shown = e->type() == QEvent::Show;
            if (shown && !sized_) {
                // The first time: the notes take three fifths of the room,
                // unless the split was remembered.
                sized_ = true;
                const QList<int> sizes = splitter_->sizes();
                const int total = sizes.value(0) + sizes.value(1);
                if (!remembered_ && total > 0) splitter_->setSizes({total * 2 / 5, total - total * 2 / 5});
            }
            waveBox_->layout()->setContentsMargins(shown ? TNoteView::kKeyboardWidth : 0, 0,
                                                   shown ? view_->keyScrollBar()->sizeHint().width() : 0, 0);
        }
        return false;
    }

private:
    QWidget* waveBox_;
    TNoteView* view_;
    QSplitter* splitter_;
    bool remembered_;
    bool sized_ = false;
};

constexpr int kSnapDivisions[] = {0, 1, 2, 4, 3, 6};

// The split is remembered by the program, not by the tests' windows.
bool remembersLayout() { return QCoreApplication::applicationName() == "Notavox"; }
constexpr const char* kSplitKey = "Fenster/Teilung";

QLabel* toolLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

// A number field of the tool row after its label. It reports a value only
// when the entry is finished (Enter, the arrows, leaving the field).
QSpinBox* addToolNumber(QHBoxLayout* tools, QWidget* parent, const char* name, const QString& label, int lowest,
                        int highest, const QString& suffix, const QString& toolTip) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setRange(lowest, highest);
    box->setSuffix(suffix);
    box->setKeyboardTracking(false);
    box->setToolTip(toolTip);
    tools->addWidget(toolLabel(label, box, parent));
    tools->addWidget(box);
    return box;
}

}  // namespace

void TMainForm::BuildNoteEditor() {
    NotePane = new QWidget;
    NotePane->setObjectName("NotePane");
    auto* column = new QVBoxLayout(NotePane);
    column->setContentsMargins(0, 2, 0, 0);
    column->setSpacing(2);
    auto* tools = new QHBoxLayout;
    tools->setContentsMargins(4, 0, 4, 0);
    column->addLayout(tools);
    NoteView1 = new TNoteView(document, PaintBox1, NotePane);
    column->addWidget(NoteView1, 1);

    // The two commands are menu items ("Ansicht", "Bearbeiten") with their
    // mnemonics there, and buttons of the tool row.
    Tonumfangeinpassen1 = new QAction("&Tonumfang einpassen", this);
    Tonumfangeinpassen1->setObjectName("Tonumfangeinpassen1");
    Tonumfangeinpassen1->setToolTip("Die Tasten der Noten füllen die Höhe der Notenansicht");
    Ansicht1->insertAction(Notenerkennen1, Tonumfangeinpassen1);
    Auswahlquantisieren1 = new QAction("Auswahl &quantisieren", this);
    Auswahlquantisieren1->setObjectName("Auswahlquantisieren1");
    Auswahlquantisieren1->setToolTip("Anfang und Ende der ausgewählten Noten auf das Raster (ohne Einrasten: 1/16)");
    Bearbeiten1->insertAction(Sampleformatndern1, Auswahlquantisieren1);
    Bearbeiten1->insertSeparator(Sampleformatndern1);
    TonumfangBtn = new QToolButton(NotePane);
    TonumfangBtn->setObjectName("TonumfangBtn");
    TonumfangBtn->setDefaultAction(Tonumfangeinpassen1);
    tools->addWidget(TonumfangBtn);
    EinrastenBox = new QComboBox(NotePane);
    EinrastenBox->setObjectName("EinrastenBox");
    EinrastenBox->addItems({"Aus", "Schläge", "1/8", "1/16", "1/8-Triolen", "1/16-Triolen"});
    EinrastenBox->setToolTip("Wohin verschobene, verlängerte und neue Noten einrasten");
    tools->addSpacing(8);
    tools->addWidget(toolLabel("Einrasten:", EinrastenBox, NotePane));
    tools->addWidget(EinrastenBox);
    QuantisierenBtn = new QToolButton(NotePane);
    QuantisierenBtn->setObjectName("QuantisierenBtn");
    QuantisierenBtn->setDefaultAction(Auswahlquantisieren1);
    tools->addWidget(QuantisierenBtn);
    tools->addSpacing(8);
    AnschlagEd = addToolNumber(tools, NotePane, "AnschlagEd", "Anschlag:", 1, 127, "",
                               "Anschlagstärke der ausgewählten Noten");
    tools->addSpacing(8);
    EmpfindlichkeitEd = addToolNumber(tools, NotePane, "EmpfindlichkeitEd", "Empfindlichkeit:", 1, 99, " %",
                                      "Je höher, desto mehr Notenanfänge werden erkannt");
    KuerzesteNoteEd = addToolNumber(tools, NotePane, "KuerzesteNoteEd", "Kürzeste Note:", 10, 2000, " ms",
                                    "Kürzere Noten werden verworfen");
    KuerzesteNoteEd->setSingleStep(10);
    tools->addStretch(1);
    AnschlagEd->setEnabled(false);
    EmpfindlichkeitEd->setEnabled(false);
    KuerzesteNoteEd->setEnabled(false);

    // The waveform above, the notes below; the notes may take most of the room.
    ViewSplitter = new QSplitter(Qt::Vertical, TabSheet1);
    ViewSplitter->setObjectName("ViewSplitter");
    ViewSplitter->setChildrenCollapsible(false);
    auto* tab = static_cast<QVBoxLayout*>(TabSheet1->layout());
    const int at = tab->indexOf(ScrollBox1);
    tab->removeWidget(ScrollBox1);
    ViewSplitter->addWidget(ScrollBox1);
    ViewSplitter->addWidget(NotePane);
    ViewSplitter->setStretchFactor(0, 1);
    ViewSplitter->setStretchFactor(1, 2);
    ScrollBox1->setMinimumHeight(40);
    tab->insertWidget(at, ViewSplitter, 1);
    NotePane->hide();
    bool remembered = false;
    if (remembersLayout()) {
        remembered = ViewSplitter->restoreState(QSettings().value(kSplitKey).toByteArray());
        connect(ViewSplitter, &QSplitter::splitterMoved, this,
                [this] { QSettings().setValue(kSplitKey, ViewSplitter->saveState()); });
    }
    NotePane->installEventFilter(new AlignWaveform(ScrollBox1, NoteView1, ViewSplitter, remembered));

    connect(Tonumfangeinpassen1, &QAction::triggered, this, [this] { NoteView1->fitRange(); });
    connect(EinrastenBox, &QComboBox::currentIndexChanged, this,
            [this](int i) { NoteView1->setSnapDivisions(kSnapDivisions[std::clamp(i, 0, 5)]); });
    connect(Auswahlquantisieren1, &QAction::triggered, this, [this] {
        const SnapGrid grid = NoteView1->quantiseGrid();
        if (grid.empty()) {
            StatusBar1->setPanelText(0, "Ohne erkannte Schläge gibt es kein Raster");
            return;
        }
        NoteView1->commit(NoteView1->list().quantise(grid));
    });
    connect(AnschlagEd, &QSpinBox::valueChanged, this, [this](int v) {
        if (AnschlagEd->signalsBlocked()) return;
        NoteView1->commit(NoteView1->list().setVelocity(v));
    });
    connect(EmpfindlichkeitEd, &QSpinBox::valueChanged, this, [this] { DecodeAgain("Empfindlichkeit ändern"); });
    connect(KuerzesteNoteEd, &QSpinBox::valueChanged, this, [this] { DecodeAgain("Kürzeste Note ändern"); });
    connect(NoteView1, &TNoteView::edited, this, [this](const NoteChange& c) { NoteEdited(c); });
    connect(NoteView1, &TNoteView::selectionChanged, this, [this] {
        const NoteList& notes = NoteView1->list();
        const EditNote* first = nullptr;
        for (const EditNote& n : notes.notes())
            if (n.selected) {
                first = &n;
                break;
            }
        AnschlagEd->setEnabled(first != nullptr);
        if (first) {
            const QSignalBlocker quiet(AnschlagEd);
            AnschlagEd->setValue(first->velocity);
        }
        Auswahlquantisieren1->setEnabled(first != nullptr);
    });
    Auswahlquantisieren1->setEnabled(false);
}

void TMainForm::NoteEdited(const NoteChange& change) {
    undoHistory.record(change.name, std::make_unique<NoteEditStep>(*this, NoteView1->list().generation(), change));
    noteEditsUnsaved = true;
    notesOfSimpleDetection = false;  // corrected: the user's notes now
    UpdateUndoItems();
}

bool TMainForm::HasUnsavedNoteEdits() const { return noteEditsUnsaved && NoteView1->hasNotes(); }

void TMainForm::SetNoteEditsSaved() { noteEditsUnsaved = false; }

bool TMainForm::MayDiscardNoteEdits() {
    if (!HasUnsavedNoteEdits()) return true;
    return ShowMessage("Die Noten wurden geändert und noch nicht gespeichert (\"Speichern als MID (genaue "
                       "Erkennung)...\").\n\nDie Änderungen verwerfen?",
                       MsgIcon::Question, MB_YES | MB_NO, "Geänderte Noten") == MB_YES;
}

size_t TMainForm::KeptOutputsLimit() {
    // A quarter of what the machine has free: about 32 MB are kept for five minutes.
    return size_t(std::min<uint64_t>(SystemAvailableMemory() / 4, std::numeric_limits<size_t>::max()));
}

void TMainForm::KeepNetworkOutputs(std::shared_ptr<recognition::NetworkOutputs> outputs,
                                   const recognition::DecodeSettings& settings) {
    keptOutputs = std::move(outputs);
    keptSettings = settings;
    keptRevision = document.revision;
    const bool have = keptOutputs && !keptOutputs->empty();
    if (have) {
        const QSignalBlocker a(EmpfindlichkeitEd), b(KuerzesteNoteEd);
        if (!EmpfindlichkeitEd->isEnabled()) EmpfindlichkeitEd->setValue(recognition::SensitivityPercent(settings));
        if (!KuerzesteNoteEd->isEnabled()) KuerzesteNoteEd->setValue(recognition::ShortestNoteMs(settings));
    }
    EmpfindlichkeitEd->setEnabled(have);
    KuerzesteNoteEd->setEnabled(have);
}

recognition::DecodeOverrides TMainForm::ChosenDecoding() const {
    recognition::DecodeOverrides o;
    if (EmpfindlichkeitEd->isEnabled()) {
        o.sensitivityPercent = EmpfindlichkeitEd->value();
        o.shortestNoteMs = KuerzesteNoteEd->value();
    }
    return o;
}

void TMainForm::DecodeAgain(const char* stepName) {
    if (!keptOutputs || keptOutputs->empty() || keptRevision != document.revision) {
        KeepNetworkOutputs(nullptr, keptSettings);
        return;
    }
    const recognition::DecodeSettings settings = recognition::WithOverrides(keptSettings, ChosenDecoding());
    std::vector<TranscribedNote> notes = keptOutputs->decode(settings);
    const size_t count = notes.size();
    if (!NoteView1->hasNotes() && NoteView1->beats().empty()) {
        ShowNotes(std::move(notes), false);
    } else {
        NoteView1->commit(NoteView1->list().replaceAll(notes, stepName));
    }
    StatusBar1->setPanelText(0, QString("%1 Noten").arg(qulonglong(count)));
}

}  // namespace notavox
