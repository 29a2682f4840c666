#include "app/MainUnit.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <span>

#include "app/AboutBoxUnit.h"
#include "app/EchoFUnit.h"
#include "audio/Interrupt.h"
#include "audio/DocumentInfo.h"
#include "audio/Recording.h"
#include "audio/SafeFile.h"
#include "audio/WavFile.h"
#include "codecs/Mp3Export.h"
#include "recognition/Recogniser.h"

namespace notavox {

QAction* InsertActionAfter(QMenu& menu, QAction* anchor, const QString& caption, const QString& name,
                           std::function<void()> onTrigger) {
    auto* item = new QAction(caption, &menu);
    item->setObjectName(name);
    const QList<QAction*> items = menu.actions();
    const qsizetype at = items.indexOf(anchor);
    menu.insertAction(at >= 0 && at + 1 < items.size() ? items[at + 1] : nullptr, item);
    QObject::connect(item, &QAction::triggered, &menu, std::move(onTrigger));
    return item;
}

namespace {
const QColor kNavy(0, 0, 128);

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                        int width, int height = 25) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setGeometry(left, top, width, height);
    return b;
}

QLabel* makeLabel(QWidget* parent, const QString& caption, int left, int top) {
    auto* l = new QLabel(caption, parent);
    l->move(left, top);
    l->adjustSize();
    return l;
}

// A row of controls, 105 pixels high.
QFrame* makePanel(QWidget* parent, const QString& name, QFrame::Shape shape) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setFixedHeight(105);
    panel->setFrameShape(shape);
    return panel;
}

// A fixed list of numbers in the MP3 settings: its label left, its unit right.
QComboBox* makeNumberChoice(QWidget* parent, const QString& name, const QString& caption, int top,
                            std::span<const int32_t> values, const QString& unit) {
    QLabel* label = makeLabel(parent, caption, 8, top + 4);
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setEditable(false);
    box->setGeometry(104, top, 89, 21);
    for (int32_t v : values) box->addItem(QString::number(v));
    label->setBuddy(box);
    makeLabel(parent, unit, 200, top + 4);
    return box;
}
}  // namespace

std::string toFileName(const QString& name) { return QFile::encodeName(name).toStdString(); }

// ---------------------------------------------------------------- status bar

TStatusBar::TStatusBar(TMainForm* form, QWidget* parent) : QWidget(parent), form_(form) {
    setObjectName("StatusBar1");
    // Two lines of text, for the information panel.
    setFixedHeight(2 * fontMetrics().height() + 4);
}

void TStatusBar::setPanelText(int panel, const QString& text) {
    if (panel == 0) {
        text0_ = text;
        update(QRect(0, 0, kPanel0Width, height()));
    } else if (panel == 2) {
        if (text == text2_) return;
        text2_ = text;
        setToolTip(QString(text).replace('\n', "; "));
        update(QRect(kPanel2Left, 0, std::max(0, width() - kPanel2Left), height()));
    }
}

QString TStatusBar::panelText(int panel) const {
    if (panel == 0) return text0_;
    if (panel == 2) return text2_;
    return QString();
}

TRect TStatusBar::panel1Rect() const {
    const int left = kPanel0Width + 2;
    return TRect{left, 2, left + kPanel1Width, height() - 1};
}

void TStatusBar::paintMore(const TRect& r, const QColor& color) {
    if (r.right <= r.left || r.bottom <= r.top) return;
    paintingMore_ = true;
    moreRect_ = r;
    moreColor_ = color;
    // A synchronous paint of just this rectangle: the bar grows on screen
    // even while the caller keeps the message loop waiting.
    repaint(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
    paintingMore_ = false;
}

void TStatusBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (paintingMore_) {
        p.fillRect(QRect(moreRect_.left, moreRect_.top, moreRect_.right - moreRect_.left,
                         moreRect_.bottom - moreRect_.top),
                   moreColor_);
        return;
    }
    const QColor face = palette().color(QPalette::Button);
    p.fillRect(rect(), face);
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(0, 1, kPanel0Width - 1, height() - 2);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(4, 1, kPanel0Width - 8, height() - 2), Qt::AlignVCenter | Qt::AlignLeft, text0_);
    if (width() > kPanel2Left + 8) {
        p.setPen(palette().color(QPalette::Mid));
        p.drawRect(kPanel2Left, 1, width() - kPanel2Left - 2, height() - 2);
        p.setPen(palette().color(QPalette::WindowText));
        const int lineHeight = fontMetrics().height();
        const int textWidth = width() - kPanel2Left - 8;
        int y = 2;
        for (const QString& line : text2_.split('\n')) {
            p.drawText(QRect(kPanel2Left + 4, y, textWidth, lineHeight), Qt::AlignVCenter | Qt::AlignLeft,
                       fontMetrics().elidedText(line, Qt::ElideRight, textWidth));
            y += lineHeight;
        }
    }
    form_->StatusBar1DrawPanel(p, 1, panel1Rect());
}

// ---------------------------------------------------------------- main window

TMainForm::TMainForm(const MainFormServices& services, QWidget* parent)
    : QMainWindow(parent), services_(services), prompts_(services.prompts) {
    setObjectName("MainForm");
    setWindowTitle("Velmira Notavox 1.0");
    QFont f = QApplication::font();
    f.setFamily("Sans Serif");
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(11);
    setFont(f);
    resize(kWidth, kHeight);
    buildMenu();
    buildControls();
    BuildNoteControls();
    BuildScoreControls();
    // The smallest window shows every control: the panels as wide as their
    // rightmost control, and a strip of the waveform.
    for (QFrame* panel : {Panel2, Panel1}) panel->setMinimumWidth(panel->childrenRect().right() + 9);
    PaintBox1->setMinimumHeight(48);
    AboutBox = new TAboutBox(this, prompts_);
    EchoForm = new TEchoForm(this);
    FormCreate();
    setAcceptDrops(true);
    SetupKeys();
    UpdateUndoItems();
    UpdateInfoPanel();
    // Centred on the screen, and no larger than it.
    if (QScreen* s = screen()) PlaceOnScreen(s->availableGeometry());
}

TMainForm::~TMainForm() { FormDestroy(); }

void TMainForm::buildMenu() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName("MainMenu1");
    MainMenu1->setNativeMenuBar(false);
    auto menu = [this](const char* name, const QString& caption) {
        QMenu* m = MainMenu1->addMenu(caption);
        m->setObjectName(name);
        return m;
    };
    auto item = [this](QMenu* m, const char* name, const QString& caption, void (TMainForm::*handler)()) {
        QAction* a = m->addAction(caption);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return a;
    };

    // Shortcuts work wherever the focus is in the window (SetupKeys keeps the
    // controls from taking them) and are shown in the menus.
    auto keys = [](QAction* a, const QList<QKeySequence>& sequences) {
        a->setShortcuts(sequences);
        a->setShortcutContext(Qt::ApplicationShortcut);
        return a;
    };

    Datei1 = menu("Datei1", "&Datei");
    ffnen1 = keys(item(Datei1, "ffnen1", "&Öffnen...", &TMainForm::OpenBtnClick), {QKeySequence("Ctrl+O")});
    Speichern1 = keys(item(Datei1, "Speichern1", "&Speichern als WAV/MP3...", &TMainForm::SaveBtnClick),
                      {QKeySequence("Ctrl+S")});
    SpeichernalsMID1 = keys(item(Datei1, "SpeichernalsMID1", "Speichern als &MID...", &TMainForm::Button1Click),
                            {QKeySequence("Ctrl+M")});
    Datei1->addSeparator();
    VonMusikCDeinlesen1 = item(Datei1, "VonMusikCDeinlesen1", "Von Musik-&CD einlesen...", &TMainForm::MusikCDBtnClick);
    Datei1->addSeparator();
    Beenden1 = keys(item(Datei1, "Beenden1", "&Beenden", &TMainForm::Beenden1Click), {QKeySequence("Ctrl+Q")});

    Bearbeiten1 = menu("Bearbeiten1", "&Bearbeiten");
    Rckgngig1 = keys(item(Bearbeiten1, "Rckgngig1", "&Rückgängig", &TMainForm::Rckgngig1Click),
                     {QKeySequence("Ctrl+Z")});
    Wiederherstellen1 = keys(item(Bearbeiten1, "Wiederherstellen1", "&Wiederherstellen",
                                  &TMainForm::Wiederherstellen1Click),
                             {QKeySequence("Ctrl+Y"), QKeySequence("Ctrl+Shift+Z")});
    Bearbeiten1->addSeparator();
    ZurAuswahlzurechtschneiden1 = item(Bearbeiten1, "ZurAuswahlzurechtschneiden1", "Zur Auswahl &zurechtschneiden",
                                       &TMainForm::CropToSelectionClick);
    DieAuswahlwegschneiden1 =
        keys(item(Bearbeiten1, "DieAuswahlwegschneiden1", "Die Auswahl weg&schneiden", &TMainForm::CutSelectionBtnClick),
             {QKeySequence(Qt::Key_Delete)});
    Bearbeiten1->addSeparator();
    Allesauswhlen1 = keys(item(Bearbeiten1, "Allesauswhlen1", "&Alles auswählen", &TMainForm::Allesauswhlen1Click),
                          {QKeySequence("Ctrl+A")});
    Nichtsauswhlen1 = keys(item(Bearbeiten1, "Nichtsauswhlen1", "&Nichts auswählen", &TMainForm::SelectNothingBtnClick),
                           {QKeySequence(Qt::Key_Escape)});
    Bearbeiten1->addSeparator();
    Sampleformatndern1 =
        item(Bearbeiten1, "Sampleformatndern1", "Sample&format ändern...", &TMainForm::ChangeFormatClick);

    Ansicht1 = menu("Ansicht1", "&Ansicht");
    GanzeDatei1 = item(Ansicht1, "GanzeDatei1", "&Ganze Datei", &TMainForm::ZoomOutFullClick);
    VollerZoom1 = item(Ansicht1, "VollerZoom1", "&Voller Zoom", &TMainForm::ZoomInFullClick);
    ZoomaufAuswahl1 = item(Ansicht1, "ZoomaufAuswahl1", "&Zoom auf Auswahl", &TMainForm::ZoomSelClick);
    Ansicht1->addSeparator();
    Kleiner1 = keys(item(Ansicht1, "Kleiner1", "&Kleiner", &TMainForm::ZoomKleinerBtnClick),
                    {QKeySequence("Ctrl+-")});
    Grer1 = keys(item(Ansicht1, "Grer1", "G&rößer", &TMainForm::ZoomGroesserBtnClick),
                 {QKeySequence("Ctrl++"), QKeySequence("Ctrl+=")});
    Ansicht1->addSeparator();
    ZumAnfang1 = keys(item(Ansicht1, "ZumAnfang1", "Zum &Anfang", &TMainForm::ZumAnfang1Click),
                      {QKeySequence(Qt::Key_Home)});
    ZumEnde1 = keys(item(Ansicht1, "ZumEnde1", "Zum &Ende", &TMainForm::ZumEnde1Click), {QKeySequence(Qt::Key_End)});

    Effekte1 = menu("Effekte1", "&Effekte");
    BuildEffectsMenu(Effekte1);

    Wiedergabe1 = menu("Wiedergabe1", "&Wiedergabe");
    AbspielenAnhalten1 = keys(item(Wiedergabe1, "AbspielenAnhalten1", "&Abspielen/Anhalten",
                                   &TMainForm::AbspielenAnhalten1Click),
                              {QKeySequence(Qt::Key_Space)});

    Hilfe1 = menu("Hilfe1", "&Hilfe");
    berdasProgramm1 = item(Hilfe1, "berdasProgramm1", "Ü&ber das Programm...", &TMainForm::berdasProgramm1Click);
}

void TMainForm::buildControls() {
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    setCentralWidget(central);
    // A push button of a panel that runs `handler` when clicked.
    auto button = [this](QWidget* parent, const char* name, const QString& caption, int left, int top, int width,
                         void (TMainForm::*handler)()) {
        QPushButton* b = makeButton(parent, name, caption, left, top, width);
        connect(b, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
        return b;
    };

    // Panel2: the file commands and the MP3 settings.
    Panel2 = makePanel(central, "Panel2", QFrame::StyledPanel);
    column->addWidget(Panel2);
    OpenBtn = button(Panel2, "OpenBtn", "&Öffnen...", 8, 8, 185, &TMainForm::OpenBtnClick);
    SaveBtn = button(Panel2, "SaveBtn", "&Speichern als WAV/MP3...", 8, 40, 185, &TMainForm::SaveBtnClick);
    Button1 = button(Panel2, "Button1", "Speichern als &MID...", 8, 72, 185, &TMainForm::Button1Click);
    MusikCDBtn = button(Panel2, "MusikCDBtn", "Von Musik-&CD einlesen...", 200, 8, 185, &TMainForm::MusikCDBtnClick);

    GroupBox1 = new QGroupBox("MP3 Ausgabe", Panel2);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(400, 4, 281, 95);
    // The rate list holds Hz (44100), not kHz.
    mp3format = makeNumberChoice(GroupBox1, "mp3format", "Samplefre&quenz:", 24, kMp3OutputRates, "Hz");
    BitRate = makeNumberChoice(GroupBox1, "BitRate", "B&itrate:", 56, kMp3BitRates, "kBit/Sekunde");

    // The page control with its one tab.
    PageControl1 = new QTabWidget(central);
    PageControl1->setObjectName("PageControl1");
    column->addWidget(PageControl1, 1);
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName("TabSheet1");
    PageControl1->addTab(TabSheet1, "Datei zurechtschneiden");
    auto* tab = new QVBoxLayout(TabSheet1);
    tab->setContentsMargins(0, 0, 0, 0);
    tab->setSpacing(0);

    Panel1 = makePanel(TabSheet1, "Panel1", QFrame::NoFrame);
    tab->addWidget(Panel1);
    ZoomKleinerBtn = button(Panel1, "ZoomKleinerBtn", "&Kleiner", 8, 8, 97, &TMainForm::ZoomKleinerBtnClick);
    ZoomGroesserBtn = button(Panel1, "ZoomGroesserBtn", "G&rößer", 112, 8, 97, &TMainForm::ZoomGroesserBtnClick);
    ZoomOutFull = button(Panel1, "ZoomOutFull", "&Ganze Datei", 240, 8, 97, &TMainForm::ZoomOutFullClick);
    ZoomInFull = button(Panel1, "ZoomInFull", "&Voller Zoom", 344, 8, 97, &TMainForm::ZoomInFullClick);
    ZoomSel = button(Panel1, "ZoomSel", "&Zoom auf Auswahl", 448, 8, 137, &TMainForm::ZoomSelClick);
    Label1 = makeLabel(Panel1, "Verk&leinerung:", 8, 44);
    ZoomOutEd = new QSpinBox(Panel1);
    ZoomOutEd->setObjectName("ZoomOutEd");
    ZoomOutEd->setGeometry(88, 40, 97, 21);
    ZoomOutEd->setRange(1, 1000000);
    ZoomOutEd->setSingleStep(10);
    ZoomOutEd->setValue(100);
    Label1->setBuddy(ZoomOutEd);
    PlayBtn = button(Panel1, "PlayBtn", "&PLAY", 240, 40, 75, &TMainForm::PlayBtnClick);
    StopBTN = button(Panel1, "StopBTN", "ST&OP", 320, 40, 75, &TMainForm::StopBTNClick);
    StopBTN->setEnabled(false);
    SchleifeCheck = new QCheckBox("In einer Schlei&fe kontinuierlich abspielen", Panel1);
    SchleifeCheck->setObjectName("SchleifeCheck");
    // The caption is wider than 225 pixels in the desktop's font: the box
    // grows so that it can be read whole.
    SchleifeCheck->setGeometry(400, 40, std::max(225, SchleifeCheck->sizeHint().width()), 25);
    SchleifeCheck->setChecked(true);
    CropToSelection = button(Panel1, "CropToSelection", "Zur Auswahl zurech&tschneiden", 8, 72, 201,
                             &TMainForm::CropToSelectionClick);
    CutSelectionBtn = button(Panel1, "CutSelectionBtn", "Die Auswahl wegschneide&n", 216, 72, 201,
                             &TMainForm::CutSelectionBtnClick);
    ChangeFormat = button(Panel1, "ChangeFormat", "Sampleformat &ändern...", 424, 72, 153,
                          &TMainForm::ChangeFormatClick);

    connect(ZoomOutEd, &QSpinBox::textChanged, this, [this] { ZoomOutEdChange(); });

    ScrollBox1 = new QFrame(TabSheet1);
    ScrollBox1->setObjectName("ScrollBox1");
    ScrollBox1->setAutoFillBackground(true);
    {
        QPalette pal = ScrollBox1->palette();
        pal.setColor(QPalette::Window, pal.color(QPalette::Dark));  // the application-workspace colour
        ScrollBox1->setPalette(pal);
    }
    auto* box = new QVBoxLayout(ScrollBox1);
    box->setContentsMargins(0, 0, 0, 0);
    tab->addWidget(ScrollBox1, 1);

    RxSlider1 = new QScrollBar(Qt::Horizontal, TabSheet1);
    RxSlider1->setObjectName("RxSlider1");
    RxSlider1->setFixedHeight(17);
    RxSlider1->setRange(0, 100);
    RxSlider1->setSingleStep(10);
    RxSlider1->setPageStep(100);
    tab->addWidget(RxSlider1);
    connect(RxSlider1, &QScrollBar::valueChanged, this, [this] { RxSlider1Change(); });

    PaintBox1 = new TWaveView(document, ZoomOutEd, RxSlider1, ScrollBox1);
    box->addWidget(PaintBox1);

    connect(PaintBox1, &TWaveView::selectionMoved, this, [this] { UpdateInfoPanel(); });

    StatusBar1 = new TStatusBar(this, central);
    column->addWidget(StatusBar1);
}

QString TMainForm::executableFolder() const { return QCoreApplication::applicationDirPath(); }

QString TMainForm::DialogFolder() const { return lastFolder.isEmpty() ? executableFolder() : lastFolder; }

void TMainForm::RememberFolder(const QString& fileName) {
    if (!fileName.isEmpty()) lastFolder = QFileInfo(fileName).absolutePath();
}

void TMainForm::UpdateInfoPanel() {
    const std::string recording = RecordingText(document);
    const std::string selection = SelectionText(document);
    StatusBar1->setPanelText(2, recording.empty() ? QString()
                                                  : QString::fromStdString(recording + "\n" + selection));
}

int TMainForm::ShowMessage(const QString& text, MsgIcon icon, int buttons, const QString& caption) {
    return prompts_->messageBox(this, text, caption, icon, buttons);
}

void TMainForm::RequestTerminate() {
    terminateRequested_ = true;
    // Ends the message loop as soon as it runs; no closing question.
    QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
}

void TMainForm::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

// ---------------------------------------------------------------- life cycle

void TMainForm::FormCreate() {
    mp3format->setCurrentText(QString::number(kDefaultMp3OutputRate));
    BitRate->setCurrentText(QString::number(kDefaultMp3BitRate));
    CreateViewBitmap();
    if (!SetupSound()) RequestTerminate();
    CreateTranscription();
    SetupCD();
}

bool TMainForm::FormCloseQuery() {
    // Unsaved changes: the question whether to save them takes the place of
    // the usual one.
    if (!MayDiscardNoteEdits()) return false;
    if (modified()) return ConfirmDiscard("Programm beenden");
    if (HasUnsavedNoteEdits()) return true;  // the note question was the one
    return ShowMessage("Hiermit beenden Sie das Programm! Alle nicht gespeicherten Daten gehen verloren!",
                       MsgIcon::Information, MB_OK | MB_CANCEL, "Programm beenden") == MB_OK;
}

void TMainForm::FormClose() {
    stopRequested_ = true;
    workRunner.cancel();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void TMainForm::FormDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    stopRequested_ = true;
    ReleaseSound();
    document.sampleData.reset();
    document.byteCount = 0;
    FreeViewBitmap();
    ReleaseTranscription();
}

void TMainForm::Beenden1Click() { close(); }

void TMainForm::berdasProgramm1Click() { prompts_->showModal(*AboutBox); }

// ---------------------------------------------------------------- progress display

void TMainForm::SetProStatus(int32_t p) {
    if (p < 0 || p > 100) return;
    if (p < progressPercent) {
        progressPercent = p;
        StatusBar1->repaint();
    } else {
        progressPercent = p;
        SBarPaintMore();
    }
}

void TMainForm::StatusBar1DrawPanel(QPainter& canvas, int panel, const TRect& r) {
    if (panel != 1) return;
    const int32_t b = r.left + ((r.right - r.left) * progressPercent) / 100;
    const QColor face = StatusBar1->palette().color(QPalette::Button);
    canvas.fillRect(QRect(r.left, r.top, b - r.left, r.bottom - r.top), kNavy);
    canvas.fillRect(QRect(b, r.top, r.right - b, r.bottom - r.top), face);
    progressRect = r;
}

void TMainForm::SBarPaintMore() {
    const TRect q = progressRect;
    const int32_t b = q.left + ((q.right - q.left) * progressPercent) / 100;
    StatusBar1->paintMore(TRect{q.left, q.top, b, q.bottom}, kNavy);
}

// ---------------------------------------------------------------- waveform view

void TMainForm::CreateViewBitmap() { PaintBox1->createBitmap(); }
void TMainForm::FreeViewBitmap() { PaintBox1->freeBitmap(); }
void TMainForm::PaintBox1Paint() {
    PaintBox1->refresh();
    UpdateInfoPanel();
}
void TMainForm::ZoomOutEdChange() { PaintBox1->zoomChanged(); }
void TMainForm::RxSlider1Change() { PaintBox1->refresh(); }
void TMainForm::ZoomOutFullClick() { PaintBox1->zoomOutFull(); }
void TMainForm::ZoomInFullClick() { PaintBox1->zoomInFull(); }
void TMainForm::ZoomSelClick() { PaintBox1->zoomToSelection(); }
void TMainForm::ZoomKleinerBtnClick() { PaintBox1->zoomSmaller(); }
void TMainForm::ZoomGroesserBtnClick() { PaintBox1->zoomLarger(); }

// ---------------------------------------------------------------- files

void TMainForm::OpenBtnClick() {
    FileDialogRequest request;
    request.filter = "WAV und MP3-Dateien|*.WAV;*.MP3";
    request.defaultExt = "WAV";
    request.initialDir = DialogFolder();
    const FileDialogResult chosen = prompts_->openFile(this, request);
    if (!chosen.accepted) return;
    OpenFile(chosen.fileName);
}

void TMainForm::OpenFile(const QString& fileName) {
    if (busy()) return;  // a file dropped while the long work runs
    if (!MayDiscardNoteEdits()) return;
    RememberFolder(fileName);
    if (!ConfirmDiscard("Öffnen")) return;
    // Read on the worker thread into a recording of its own; the window's
    // recording is replaced only by a complete one. STOP keeps the old one.
    AudioDocument loaded;
    bool opened = false;
    std::string decodeMessage, cause;
    bool rateRefused = false;
    const std::string name = toFileName(fileName);
    const bool finished = RunLongWork([&](OperationHost& host, const std::atomic<bool>&) {
        const auto decode = [&](const std::string& mp3, AudioDocument& doc) {
            decodeMessage = DecodeMp3File(mp3, *services_.decoder, host, doc).message;
            return decodeMessage;  // shown below, then that no recording came out
        };
        opened = LoadRecording(name, loaded, decode, &cause, &rateRefused);
    });
    if (!decodeMessage.empty()) ShowMessage(QString::fromStdString(decodeMessage), MsgIcon::Error);
    if (!finished) return;
    if (opened) {
        document.replace(std::move(loaded.sampleData), loaded.byteCount, loaded.sampleRate, loaded.stereo,
                         loaded.sixteenBit);
        RecordingOpened(fileName);
    }
    if (!opened && rateRefused) {
        QString sentence = QString::fromStdString(cause);  // "die Samplerate ... Hz)"
        sentence[0] = sentence[0].toUpper();
        ShowMessage("Konnte Datei nicht öffnen\n" + sentence + ".");
    } else if (!opened) {
        ShowMessage("Konnte Datei nicht öffnen");
    }

    document.selectionStart = 0;
    document.selectionEnd = 0;
    ZoomOutFullClick();
    PaintBox1Paint();
}

void TMainForm::SaveBtnClick() { SaveRecording(); }

bool TMainForm::SaveRecording() {
    if (busy()) return false;  // the recording may be in use on the worker thread
    if (document.byteCount == 0) {
        ShowMessage(QString::fromUtf8(kNoRecordingToSaveText), MsgIcon::Information);
        return false;
    }
    FileDialogRequest request;
    request.filter = "MP3-Datei|*.MP3|WAV-Datei|*.WAV";
    request.defaultExt = "WAV";
    request.initialDir = DialogFolder();
    request.filterIndex = saveDialog1FilterIndex;
    request.overwritePrompt = true;
    const FileDialogResult chosen = prompts_->saveFile(this, request);
    if (!chosen.accepted) return false;
    saveDialog1FilterIndex = chosen.filterIndex;
    RememberFolder(chosen.fileName);

    // A typed ".wav" or ".mp3" decides the format; without one the chosen
    // type does, and its extension is appended.
    QString name = chosen.fileName;
    const QString suffix = QFileInfo(name).suffix().toUpper();
    bool mp3 = chosen.filterIndex == 1;
    if (suffix == "MP3") mp3 = true;
    else if (suffix == "WAV") mp3 = false;
    else if (suffix.isEmpty()) name += mp3 ? ".mp3" : ".wav";
    if (mp3) {
        if (!SaveAsMP3File(name)) return false;
        RecordingSaved(name);
        return true;
    }
    int error = 0;
    if (!WriteWAVFile(toFileName(name), document.sampleData.get(), document.stereo, document.sixteenBit,
                      document.sampleRate, document.byteCount, &error)) {
        const QString cause = QString::fromStdString(SaveErrorText(error));
        ShowMessage(cause.isEmpty() ? QString("Konnte Datei nicht speichern")
                                    : QString("Konnte Datei nicht speichern\n") + cause);
        return false;
    }
    RecordingSaved(name);
    return true;
}

}  // namespace notavox
