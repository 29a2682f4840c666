// The main window: it owns the recording, the song of the transcription, the
// sound output, the codec formats, the CD drive table and every dialog, and
// binds each button and menu item to its handler.
//
// The handlers of one subsystem live in a source file of their own:
//   app/MainUnit.cpp      life cycle, progress display, open/save, about box
//   app/MidiCommands.cpp  "Speichern als MID...", the sample format dialog
//   app/EditCommands.cpp  crop, cut, select nothing, the effects
//   app/Mp3Commands.cpp   MP3 import and export
//   app/CDCommands.cpp    reading a track from an audio CD
//   app/PlaybackCommands.cpp  playback through the sound device
//   app/NoteCommands.cpp  the accurate analysis, the note view, hearing the
//                         notes, long work on the worker thread
//   app/UndoCommands.cpp  undo and redo of the commands that change the recording
//   app/KeyCommands.cpp   the keys that work wherever the focus is, select all,
//                         start and end, play/stop, dropped files
//   app/WindowState.cpp   the title, unsaved changes, which commands are
//                         enabled, the window's place on the screen
// The waveform view is a widget of its own (view/WaveView), PaintBox1; the
// window's view handlers hand each event to it.
#pragma once

#include <functional>

#include <QMainWindow>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "app/Prompts.h"
#include "audio/AudioDocument.h"
#include "audio/OperationHost.h"
#include "audio/UndoHistory.h"
#include "cdrom/DriveDiscovery.h"
#include "codecs/Mp3Import.h"
#include "view/WaveView.h"
#include "app/WorkRunner.h"
#include "notes/NoteEditing.h"
#include "recognition/Model.h"
#include "recognition/NetworkOutputs.h"
#include "transcription/TranscribedNote.h"
#include "sound/NoteSynth.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QScrollBar;
class QSpinBox;
class QSplitter;
class QToolButton;
class QTabWidget;

namespace notavox {

namespace recognition {
class Recogniser;
struct AccurateOutcome;
}
class TMainForm;
class TAboutBox;
struct EffectCommand;

// A new command `name` with `caption` in `menu` right after `anchor` (at the
// end when `anchor` is the last entry or not in the menu), calling `onTrigger`.
QAction* InsertActionAfter(QMenu& menu, QAction* anchor, const QString& caption, const QString& name,
                           std::function<void()> onTrigger);

// PLAY when the sound output cannot be opened or started.
inline constexpr const char* kSoundDeviceFailedText = "Konnte das Abspielgerät nicht öffnen.";
// At start-up, when neither the sound server nor a sound device through
// ALSA could be opened: the two the program plays through.
inline constexpr const char* kSoundSetupFailedText = "Konnte die Tonausgabe (PulseAudio oder ALSA) nicht initialisieren...";
// "Speichern als WAV/MP3..." with no recording loaded.
inline constexpr const char* kNoRecordingToSaveText = "Es ist keine Aufnahme geladen, die gespeichert werden kann.";

// A rectangle as the owner-drawn status panel receives it: right and bottom
// are exclusive.
struct TRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// The status bar: panel 0 shows a short text, panel 1 is drawn by the main
// window (the progress bar).
class TStatusBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPanel0Width = 400;
    static constexpr int kPanel1Width = 50;
    // Panel 2 (the rest of the bar): the recording's format and length and
    // the selection, two lines.
    static constexpr int kPanel2Left = kPanel0Width + 2 + kPanel1Width + 4;
    TStatusBar(TMainForm* form, QWidget* parent);
    void setPanelText(int panel, const QString& text);
    QString panelText(int panel) const;
    // The rectangle of panel 1 as it is passed to the draw handler.
    TRect panel1Rect() const;
    // Fills a part of panel 1 at once, without a repaint of the whole bar.
    void paintMore(const TRect& r, const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TMainForm* form_;
    QString text0_;
    QString text2_;
    bool paintingMore_ = false;
    TRect moreRect_;
    QColor moreColor_;
};

// The platform pieces the main window uses, every one required. Whoever makes
// the window owns them and keeps them alive longer than the window: main.cpp
// the real ones, the GUI tests their fakes (tests/support/FormFixture.h).
struct MainFormServices {
    UserPrompts* prompts = nullptr;         // dialogs and message boxes
    class SoundDevice* sound = nullptr;     // the sound output
    Mp3Decoder* decoder = nullptr;          // MP3 decoding
    class Mp3Encoder* mp3Encoder = nullptr; // MP3 encoding
    ScsiTransport* cdTransport = nullptr;   // the CD drives
};

class TMainForm : public QMainWindow, public OperationHost {
    Q_OBJECT
public:
    explicit TMainForm(const MainFormServices& services, QWidget* parent = nullptr);
    // The window's size where the screen has room for it.
    static constexpr int kWidth = 696;
    static constexpr int kHeight = 480;
    ~TMainForm() override;

    UserPrompts& prompts() { return *prompts_; }
    // The message box of the program: empty caption = the default caption.
    int ShowMessage(const QString& text, MsgIcon icon = MsgIcon::Error, int buttons = MB_OK,
                    const QString& caption = QString());
    // Ends the program once its message loop runs (or at once, if it runs).
    void RequestTerminate();
    bool terminateRequested() const { return terminateRequested_; }

    // OperationHost
    void SetProStatus(int32_t percent) override;
    void ProcessMessages() override;
    bool stopRequested() const override { return stopRequested_; }
    void setStopRequested(bool value) override { stopRequested_ = value; }

    // ---- the recording ----
    AudioDocument document;

    // ---- progress display ----
    int32_t progressPercent = 0;
    TRect progressRect;
    void StatusBar1DrawPanel(QPainter& canvas, int panel, const TRect& rect);
    void SBarPaintMore();

    // ---- life cycle ----
    void FormCreate();
    bool FormCloseQuery();
    void FormClose();
    void FormDestroy();

    // ---- commands: files (app/MainUnit.cpp) ----
    void OpenBtnClick();
    void SaveBtnClick();
    // "Speichern als WAV/MP3..." with its dialog; true when the recording was saved.
    bool SaveRecording();
    void Beenden1Click();
    void berdasProgramm1Click();
    int saveDialog1FilterIndex = 1;  // the save dialog remembers the type chosen last

    // ---- commands: transcription (app/MidiCommands.cpp) ----
    void Button1Click();
    void ChangeFormatClick();
    // The song of the transcription (16 tracks, rebuilt after every
    // conversion) and the sample format dialog, both made in FormCreate.
    struct Song* song = nullptr;
    class TSampleFormat* SampleFormat = nullptr;
    void CreateTranscription();   // FormCreate: a fresh song and the dialog
    void ReleaseTranscription();  // FormDestroy: the song's tracks and track list
    // The save dialog of "Speichern als MID...".
    FileDialogRequest SaveDialog2() const;

    // ---- commands: edits and effects (app/EditCommands.cpp) ----
    void CropToSelectionClick();
    void CutSelectionBtnClick();
    void SelectNothingBtnClick();
    // The items of "Effekte", made from the table of effects; each runs
    // RunEffect with its entry.
    void BuildEffectsMenu(QMenu* menu);
    void RunEffect(const EffectCommand& effect);

    // ---- waveform view: delegations to PaintBox1 (view/WaveView) ----
    void CreateViewBitmap();
    void FreeViewBitmap();
    void PaintBox1Paint();
    void ZoomOutEdChange();
    void RxSlider1Change();
    void ZoomOutFullClick();
    void ZoomInFullClick();
    void ZoomSelClick();
    void ZoomKleinerBtnClick();
    void ZoomGroesserBtnClick();
    // The time-span dialog of the effects, created with the window.
    class TEchoForm* EchoForm = nullptr;
    bool AskTimeSpan(double defaultSeconds, double& seconds);  // TEchoForm through the prompt seam

    // ---- playback (app/PlaybackCommands.cpp) ----
    bool SetupSound();    // false: the message was shown and the program ends
    void ReleaseSound();
    void PlayBtnClick();
    void StopBTNClick();
    SoundDevice* soundDevice = nullptr;          // the sound output, while it is set up
    bool playing = false;                        // PlayBtnClick is running

    // ---- MP3 (app/Mp3Commands.cpp) ----
    bool SaveAsMP3File(const QString& fileName);  // true when the file was written

    // ---- audio CD (app/CDCommands.cpp) ----
    void MusikCDBtnClick();
    void SetupCD();  // FormCreate: the transport and the dialog
    // Discovery runs on the first use of the dialog only; the table and the
    // transport chosen then stay for the whole run.
    bool drivesScanned = false;
    CdDriveTable cdDrives;
    class TMusikCDForm* MusikCDForm = nullptr;

    // ---- notes: the accurate analysis, the note view, hearing the notes,
    //      long work (app/NoteCommands.cpp) ----
    void BuildNoteControls();  // with the other controls, before FormCreate
    void SpeichernalsMIDgenaueErkennung1Click();  // also Button2
    // ---- the score (app/ScoreCommands.cpp) ----
    void BuildScoreControls();  // after BuildNoteControls
    void SpeichernalsNotenblatt1Click();
    FileDialogRequest ScoreDialog() const;
    void Notenerkennen1Click();
    void Notenanzeigen1Click();
    // Runs long work on the worker thread while the window stays usable but
    // the commands that would change the recording are disabled; STOP and
    // Escape cancel it. False when it was cancelled.
    bool RunLongWork(const TWorkRunner::Work& work);
    bool busy() const { return workRunner.running() || busy_; }
    void SetBusy(bool value);
    // Puts `notes` into the note view and shows it; `announce` also says in the
    // status panel how many there are.
    void ShowNotes(std::vector<TranscribedNote> notes, bool announce = true);
    PlaySource playSource() const;
    // The note recogniser, read from `modelFile` when set, else from the
    // model found beside the program. Read once: a recogniser that is ready
    // is kept for every later command, one that is not is tried again. Null
    // when it is not ready, after an error box has said why.
    const recognition::Recogniser* ReadyRecogniser();
    std::string modelFile;
    std::unique_ptr<recognition::Recogniser> recogniser;
    // Where the sound font for the notes is looked for.
    std::vector<std::string> soundFontPaths = SoundFontSearchPaths();
    TWorkRunner workRunner{*this};

    // ---- correcting the notes (app/NoteEditCommands.cpp) ----
    void BuildNoteEditor();  // the splitter, the note view's tools; from BuildNoteControls
    // Records an edit of the note view as a step of the undo history.
    void NoteEdited(const NoteChange& change);
    // The note edits since the notes were found or saved are not saved yet.
    bool HasUnsavedNoteEdits() const;
    void SetNoteEditsSaved();
    // Before the notes are thrown away (another file, the end): asks whether
    // unsaved note edits may go; false: the user keeps them.
    bool MayDiscardNoteEdits();
    // "Speichern als MID (genaue Erkennung)..." of the notes in the view.
    void SaveShownNotes(const std::string& fileName);
    // The network's outputs of the last accurate analysis and the decoding
    // settings of its model; "Empfindlichkeit" and "Kürzeste Note" decode
    // them again.
    void KeepNetworkOutputs(std::shared_ptr<recognition::NetworkOutputs> outputs,
                            const recognition::DecodeSettings& settings);
    void DecodeAgain(const char* stepName);
    static size_t KeptOutputsLimit();
    // Clears the status text of the accurate analysis and says why it did
    // not write; true when it did.
    bool AccurateAnalysisDone(const recognition::AccurateOutcome& outcome);
    // The user's "Empfindlichkeit" and "Kürzeste Note", once they are shown.
    recognition::DecodeOverrides ChosenDecoding() const;
    std::shared_ptr<recognition::NetworkOutputs> keptOutputs;
    uint64_t keptRevision = 0;
    recognition::DecodeSettings keptSettings;
    bool noteEditsUnsaved = false;
    bool notesOfSimpleDetection = false;  // shown by "Noten erkennen" without "Genaue Erkennung"
    QSplitter* ViewSplitter = nullptr;  // waveform above, notes below
    QWidget* NotePane = nullptr;              // the note tools and the note view
    QAction* Tonumfangeinpassen1 = nullptr;   // "Ansicht"
    QAction* Auswahlquantisieren1 = nullptr;  // "Bearbeiten": the selected notes
    QToolButton* TonumfangBtn = nullptr;
    QToolButton* QuantisierenBtn = nullptr;
    QComboBox* EinrastenBox = nullptr;        // "Aus", "Schläge", "1/8", ...
    QSpinBox* AnschlagEd = nullptr;           // velocity of the selected notes
    QSpinBox* EmpfindlichkeitEd = nullptr;    // percent: 100 - onset threshold
    QSpinBox* KuerzesteNoteEd = nullptr;      // milliseconds

    // ---- undo and redo (app/UndoCommands.cpp) ----
    UndoHistory undoHistory;
    // Around every command that changes the recording: BeginChange keeps what
    // `plan` says may change, EndChange records the step (none when nothing
    // changed) and refreshes the menu and the information panel.
    void BeginChange(const QString& name, const ChangePlan& plan);
    void EndChange();
    void Rckgngig1Click();
    void Wiederherstellen1Click();
    void UpdateUndoItems();

    // ---- keys, files, information panel (app/KeyCommands.cpp) ----
    void Allesauswhlen1Click();  // "Alles auswählen"
    void ZumAnfang1Click();      // Home
    void ZumEnde1Click();        // End
    void AbspielenAnhalten1Click();  // Space: play, or stop while playing
    // Opens a WAV or MP3 file as "Öffnen..." does after its dialog: from a
    // drop, the command line or the dialog.
    void OpenFile(const QString& fileName);
    // File dialogs start in the folder used last in this run.
    QString lastFolder;
    QString DialogFolder() const;
    void RememberFolder(const QString& fileName);
    void UpdateInfoPanel();
    void SetupKeys();  // the filter that lets the window's keys reach their commands

    // ---- title, unsaved changes, enabled commands (app/WindowState.cpp) ----
    // A recording was put into the window from `fileName` ("" when it comes
    // from no file): a new history, no unsaved changes, and the status texts
    // and notes of the one before are gone.
    void RecordingOpened(const QString& fileName);
    // The recording was saved as `fileName`.
    void RecordingSaved(const QString& fileName);
    // The recording changed since it was opened or last saved.
    bool modified() const;
    // Before the recording is replaced or the program ends with unsaved
    // changes: "Speichern", "Verwerfen" or "Abbrechen". True when the caller
    // may go on (saved, discarded, or nothing unsaved).
    bool ConfirmDiscard(const QString& caption);
    // The title and the commands that need a recording or an idle window.
    void UpdateCommands();
    // The file the recording came from or was saved as ("" for none).
    QString documentName;
    uint64_t savedState = 0;  // undoHistory.state() when opened or saved
    // Places the window centred on the screen of `area`, shrunk to fit it.
    void PlaceOnScreen(const QRect& area);

    // ---- controls ----
    QMenuBar* MainMenu1 = nullptr;
    QMenu* Datei1 = nullptr;
    QMenu* Bearbeiten1 = nullptr;
    QMenu* Ansicht1 = nullptr;
    QMenu* Effekte1 = nullptr;
    QMenu* Hilfe1 = nullptr;
    QAction* ffnen1 = nullptr;
    QAction* Speichern1 = nullptr;
    QAction* VonMusikCDeinlesen1 = nullptr;
    QAction* Beenden1 = nullptr;
    QAction* SpeichernalsMID1 = nullptr;
    QAction* Rckgngig1 = nullptr;
    QAction* Wiederherstellen1 = nullptr;
    QAction* Allesauswhlen1 = nullptr;
    QAction* ZumAnfang1 = nullptr;
    QAction* ZumEnde1 = nullptr;
    QAction* AbspielenAnhalten1 = nullptr;
    QMenu* Wiedergabe1 = nullptr;
    QAction* ZurAuswahlzurechtschneiden1 = nullptr;
    QAction* DieAuswahlwegschneiden1 = nullptr;
    QAction* Nichtsauswhlen1 = nullptr;
    QAction* Sampleformatndern1 = nullptr;
    QAction* GanzeDatei1 = nullptr;
    QAction* VollerZoom1 = nullptr;
    QAction* ZoomaufAuswahl1 = nullptr;
    QAction* Kleiner1 = nullptr;
    QAction* Grer1 = nullptr;
    QAction* Echo1 = nullptr;
    QAction* Weicheinblenden1 = nullptr;
    QAction* Weichausblenden1 = nullptr;
    QAction* EndeaufAnfangberblenden1 = nullptr;
    QAction* MaximaleLautstrke1 = nullptr;
    QAction* Lauter101 = nullptr;
    QAction* Leiser101 = nullptr;
    QAction* Rckwrts1 = nullptr;
    QAction* Schneller101 = nullptr;
    QAction* Langsamer101 = nullptr;
    QAction* berdasProgramm1 = nullptr;
    QAction* SpeichernalsMIDgenaueErkennung1 = nullptr;
    QAction* SpeichernalsNotenblatt1 = nullptr;  // "Speichern als Notenblatt (MusicXML)..."
    QAction* Notenanzeigen1 = nullptr;
    QAction* Notenerkennen1 = nullptr;
    QAction* GenaueErkennung1 = nullptr;  // "Noten erkennen" with the accurate analysis
    QAction* Abbrechen1 = nullptr;        // Escape: ends the long work

    QFrame* Panel2 = nullptr;
    QPushButton* OpenBtn = nullptr;
    QPushButton* SaveBtn = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* MusikCDBtn = nullptr;
    QPushButton* Button2 = nullptr;  // "Speichern als MID (genaue Erkennung)..."
    QGroupBox* GroupBox1 = nullptr;
    QComboBox* mp3format = nullptr;
    QComboBox* BitRate = nullptr;

    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QFrame* Panel1 = nullptr;
    QPushButton* ZoomKleinerBtn = nullptr;
    QPushButton* ZoomGroesserBtn = nullptr;
    QPushButton* ZoomOutFull = nullptr;
    QPushButton* ZoomInFull = nullptr;
    QPushButton* ZoomSel = nullptr;
    QLabel* Label1 = nullptr;  // "Verkleinerung:"
    QSpinBox* ZoomOutEd = nullptr;
    QPushButton* PlayBtn = nullptr;
    QPushButton* StopBTN = nullptr;
    QCheckBox* SchleifeCheck = nullptr;
    QPushButton* CropToSelection = nullptr;
    QPushButton* CutSelectionBtn = nullptr;
    QPushButton* ChangeFormat = nullptr;
    QFrame* ScrollBox1 = nullptr;
    TWaveView* PaintBox1 = nullptr;
    class TNoteView* NoteView1 = nullptr;
    QComboBox* WiedergabeBox = nullptr;  // "Aufnahme", "Noten", "Aufnahme + Noten"
    QScrollBar* RxSlider1 = nullptr;
    TStatusBar* StatusBar1 = nullptr;

    TAboutBox* AboutBox = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenu();
    QString executableFolder() const;

    MainFormServices services_;
    UserPrompts* prompts_ = nullptr;
    bool stopRequested_ = false;
    bool terminateRequested_ = false;
    bool destroyed_ = false;
    bool busy_ = false;  // SetBusy
};

// std::string for the core from a file name the user chose.
std::string toFileName(const QString& name);

}  // namespace notavox
