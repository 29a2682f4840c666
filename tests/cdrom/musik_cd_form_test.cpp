// "Von Musik-CD einlesen..." in the real main window: the drive list, the
// dialog and its log, reading a track into the recording, errors and
// "Abbrechen", against simulated drives.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "app/MainUnit.h"
#include "app/MusikCDFUnit.h"
#include "cdrom/SimulatedDrive.h"
#include "cdrom/RippedAudio.h"
#include "support/FakePrompts.h"
#include "support/FormFixture.h"
#include "support/FakeSoundDevice.h"
#include "view/WaveGeometry.h"

using namespace notavox;
using notavox::testing::FakePrompts;
using notavox::testing::holdsAudio;
using notavox::testing::FakeSoundDevice;

namespace {

// Four tracks: 100, 101, 900 and 149 blocks.
const std::vector<uint32_t> kDisc = {150, 250, 351, 1251, 1400};

struct CdSystem {
    SimulatedScsiSystem sys;
};

struct CdForm : CdSystem, notavox::testing::TestForm<> {
    CdForm() : TestForm([this](MainFormServices& s) { s.cdTransport = &sys; }) {}
    std::shared_ptr<SimulatedDrive> addDrive(const std::string& path, const std::string& product) {
        auto d = sys.addBlockDrive(path);
        d->setDisc(kDisc);
        d->setProduct(product);
        return d;
    }
    TMusikCDForm& dialog() { return *form->MusikCDForm; }

    // The user sets the controls, presses "OK" and the dialog closes.
    void answerOk(std::function<void(TMusikCDForm&)> set = {}) {
        prompts.dialogAnswers.push_back([set](QDialog& d) {
            auto& cd = dynamic_cast<TMusikCDForm&>(d);
            if (set) set(cd);
            cd.BitBtnXP1->click();
            return cd.result();
        });
    }
    // The same through the dialog's real modal loop.
    void answerOkModal(std::function<void(TMusikCDForm&)> set = {}) {
        prompts.dialogAnswers.push_back([set](QDialog& d) {
            auto& cd = dynamic_cast<TMusikCDForm&>(d);
            if (set) set(cd);
            QTimer::singleShot(0, cd.BitBtnXP1, [&cd] { cd.BitBtnXP1->click(); });
            return cd.exec();
        });
    }
    void answerCancel() {
        prompts.dialogAnswers.push_back([](QDialog& d) {
            auto& cd = dynamic_cast<TMusikCDForm&>(d);
            cd.BitBtnXP2->click();
            return cd.result();
        });
    }
    QStringList memoLines() {
        const QString text = dialog().Memo1->toPlainText();
        return text.isEmpty() ? QStringList() : text.split('\n');
    }
    // The view was refreshed to "Ganze Datei" for the current recording.
    bool zoomedOutFull() {
        return form->ZoomOutEd->value() ==
               ZoomOutFullValue(form->document.sampleCount(), form->PaintBox1->width());
    }
};

void loadSomething(TMainForm& m) {
    m.document.replace(allocateBlock(8000), 8000, 22050, false, false);
    m.document.selectionStart = 10;
    m.document.selectionEnd = 20;
    m.ZoomInFullClick();
}

}  // namespace

TEST(MusikCDForm, DialogHasItsControlsAndLivesWithTheWindow) {
    CdForm f;
    TMusikCDForm& d = f.dialog();
    EXPECT_EQ(d.parent(), f.form.get());
    EXPECT_EQ(d.windowTitle(), "Lied von Musik-CD einlesen...");
    EXPECT_EQ(d.Label2->text(), "Laufwerk:");
    EXPECT_EQ(d.Label4->text(), "Track zum Speichern:");
    EXPECT_FALSE(d.DriveBox->isEditable());
    EXPECT_EQ(d.DriveBox->count(), 0);
    EXPECT_EQ(d.STrackEd->minimum(), 1);
    EXPECT_EQ(d.STrackEd->maximum(), 256);
    EXPECT_EQ(d.STrackEd->value(), 1);
    EXPECT_TRUE(d.Label1->text().isEmpty());
    EXPECT_EQ(d.KaraokeCheck->text(), "Karaoke Modus (nur Hintergrundmusik)");
    EXPECT_FALSE(d.KaraokeCheck->isChecked());
    EXPECT_TRUE(d.Memo1->isReadOnly());
    EXPECT_EQ(d.Memo1->height(), 45);
    EXPECT_EQ(d.Memo1->palette().color(QPalette::Base), d.palette().color(QPalette::ToolTipBase));
    EXPECT_TRUE(d.Memo1->toPlainText().isEmpty());
    EXPECT_EQ(d.BitBtnXP1->text(), "OK");
    EXPECT_TRUE(d.BitBtnXP1->isDefault());
    EXPECT_EQ(d.BitBtnXP2->text(), "Abbrechen");
    for (const char* name : {"Label2", "DriveBox", "Label4", "STrackEd", "Label1", "KaraokeCheck", "Memo1",
                             "BitBtnXP1", "BitBtnXP2"})
        EXPECT_NE(d.findChild<QWidget*>(name), nullptr) << name;
    // Every text fits its control in the desktop's font.
    for (QLabel* l : {d.Label2, d.Label4}) EXPECT_GE(l->width(), l->sizeHint().width()) << l->text().toStdString();
    EXPECT_GE(d.KaraokeCheck->width(), d.KaraokeCheck->sizeHint().width());
    EXPECT_EQ(d.geterrorMessage(2, 0x3A, 0x00), "Not Ready: medium not present");
}

TEST(MusikCDForm, ReadsATrackIntoTheRecordingAndRefreshesTheView) {
    CdForm f;
    auto drive = f.addDrive("/dev/sr0", "CDR-TEST 52X");
    TMainForm& m = *f.form;
    loadSomething(m);
    ASSERT_FALSE(f.zoomedOutFull());
    bool okEnabledDuringRead = true;
    int pendingAtFirstRead = -1;
    drive->setOnRequest([&](const SimulatedRequest& r) {
        if (r.opcode() != 0xBE) return;
        okEnabledDuringRead = okEnabledDuringRead && f.dialog().BitBtnXP1->isEnabled();
        if (pendingAtFirstRead < 0) pendingAtFirstRead = f.memoLines().size();
    });
    f.answerOk([](TMusikCDForm& d) { d.STrackEd->setValue(2); });
    m.MusikCDBtn->click();

    ASSERT_EQ(f.prompts.dialogsShown, (std::vector<QString>{"MusikCDForm"}));
    EXPECT_EQ(f.dialog().result(), QDialog::Accepted);
    EXPECT_EQ(f.dialog().DriveBox->count(), 1);
    EXPECT_EQ(f.dialog().DriveBox->itemText(0), "/dev/sr0: CDR-TEST 52X    ");
    EXPECT_EQ(f.dialog().DriveBox->currentIndex(), 0);
    EXPECT_EQ(f.memoLines(),
              QStringList({"TOC eingelesen...", "4 Tracks gefunden...", "Starte Ripping...", "Ripping beendet..."}));
    EXPECT_EQ(pendingAtFirstRead, 3) << "the log is written while the read runs";
    EXPECT_FALSE(okEnabledDuringRead);
    EXPECT_TRUE(f.dialog().BitBtnXP1->isEnabled());
    // 101 blocks are 11 requests; the last one reads 9 blocks of track 3.
    EXPECT_EQ(drive->readCdCount(), 11);
    EXPECT_TRUE(holdsAudio(m.document, 250, 110));
    EXPECT_EQ(m.document.selectionStart, 0);
    EXPECT_EQ(m.document.selectionEnd, 0);
    EXPECT_TRUE(f.zoomedOutFull());
    EXPECT_GT(m.ZoomOutEd->value(), 1);
    // The read ended at LBA 360, 9 blocks into track 3.
    EXPECT_EQ(f.dialog().Label1->text(), "Track no. 3 Time 00:00:00 s");
}

TEST(MusikCDForm, InvalidTrackAndKaraokeOnTheSameDialog) {
    CdForm f;
    auto drive = f.addDrive("/dev/sr0", "CDR-TEST 52X");
    TMainForm& m = *f.form;
    loadSomething(m);

    // Track 5 of 4: nothing read, the recording stays, the dialog still closes.
    f.answerOk([](TMusikCDForm& d) { d.STrackEd->setValue(5); });
    m.MusikCDBtn->click();
    EXPECT_EQ(f.dialog().result(), QDialog::Accepted);
    EXPECT_EQ(f.memoLines(), QStringList({"TOC eingelesen...", "Ungültige Track-Nummer..."}));
    EXPECT_EQ(drive->readCdCount(), 0);
    EXPECT_EQ(m.document.byteCount, 8000);
    EXPECT_EQ(m.document.sampleRate, 22050);
    EXPECT_FALSE(m.document.stereo);
    EXPECT_TRUE(f.zoomedOutFull()) << "the view is refreshed whatever the dialog did";
    EXPECT_TRUE(f.dialog().Label1->text().isEmpty());

    // Karaoke: the difference of the channels in both of them. The log
    // keeps the lines of the first read.
    f.answerOk([](TMusikCDForm& d) {
        d.STrackEd->setValue(4);
        d.KaraokeCheck->setChecked(true);
    });
    m.MusikCDBtn->click();
    EXPECT_EQ(f.memoLines(), QStringList({"TOC eingelesen...", "Ungültige Track-Nummer...", "TOC eingelesen...",
                                          "4 Tracks gefunden...", "Starte Ripping...", "Ripping beendet..."}));
    EXPECT_TRUE(holdsAudio(m.document, 1251, 150, true));
    // LBA 1401 lies past the lead-out: track 1, counted from the disc's start.
    EXPECT_EQ(f.dialog().Label1->text(), "Track no. 1 Time 00:00:18 s");
    EXPECT_TRUE(f.dialog().KaraokeCheck->isChecked()) << "the controls keep their state";
}

TEST(MusikCDForm, NoDriveAtAll) {
    CdForm f;
    f.sys.setGenericLayerPresent(false);
    TMainForm& m = *f.form;
    loadSomething(m);
    f.answerOk();
    m.VonMusikCDeinlesen1->trigger();
    EXPECT_EQ(f.dialog().DriveBox->count(), 0);
    EXPECT_EQ(f.dialog().DriveBox->currentIndex(), -1);
    EXPECT_EQ(f.memoLines(), QStringList({"Konnte ASPI Layer nicht laden...", "Kein Laufwerk gefunden..."}));
    EXPECT_EQ(f.dialog().result(), QDialog::Accepted);
    EXPECT_EQ(m.document.byteCount, 8000);
    EXPECT_TRUE(f.zoomedOutFull());

    // The second use does not look again.
    f.answerOk();
    m.MusikCDBtn->click();
    EXPECT_EQ(f.memoLines(), QStringList({"Konnte ASPI Layer nicht laden...", "Kein Laufwerk gefunden...",
                                          "Kein Laufwerk gefunden..."}));
}

TEST(MusikCDForm, SecondUseKeepsTheListAndItsSelection) {
    CdForm f;
    auto first = f.addDrive("/dev/sr0", "FIRST DRIVE");
    auto second = f.addDrive("/dev/sr1", "SECOND DRIVE");
    TMainForm& m = *f.form;
    // The user picks the second drive and leaves with "Abbrechen".
    f.prompts.dialogAnswers.push_back([](QDialog& d) {
        auto& cd = dynamic_cast<TMusikCDForm&>(d);
        cd.DriveBox->setCurrentIndex(1);
        cd.BitBtnXP2->click();
        return cd.result();
    });
    m.MusikCDBtn->click();
    EXPECT_EQ(f.dialog().result(), QDialog::Rejected);
    EXPECT_TRUE(f.memoLines().isEmpty());
    EXPECT_TRUE(m.document.empty());
    const int opensAfterScan = f.sys.openCount();
    EXPECT_EQ(opensAfterScan, 2);

    // A drive that appears later is not seen; the list and its selection stay.
    f.addDrive("/dev/sr2", "LATE DRIVE");
    f.answerOk();
    m.MusikCDBtn->click();
    ASSERT_EQ(f.dialog().DriveBox->count(), 2);
    EXPECT_EQ(f.dialog().DriveBox->itemText(0), "/dev/sr0: FIRST DRIVE     ");
    EXPECT_EQ(f.dialog().DriveBox->itemText(1), "/dev/sr1: SECOND DRIVE    ");
    EXPECT_EQ(f.dialog().DriveBox->currentIndex(), 1);
    EXPECT_EQ(f.sys.openCount(), opensAfterScan + 1) << "only the read opened a device";
    EXPECT_EQ(first->readCdCount(), 0);
    EXPECT_EQ(second->readCdCount(), 10);
    EXPECT_TRUE(holdsAudio(m.document, 150, 100));
}

TEST(MusikCDForm, ReadErrorsAreLoggedAndElevenInARowEndTheRead) {
    CdForm f;
    auto drive = f.addDrive("/dev/sr0", "CDR-TEST 52X");
    SimulatedFailure once;  // medium error at the third request
    once.firstLba = once.lastLba = 371;
    once.times = 1;
    drive->addFailure(once);
    SimulatedFailure rest;  // from the eleventh request on, every one
    rest.firstLba = 451;
    rest.senseKey = 2;
    rest.asc = 0x3A;
    rest.ascq = 0x00;
    drive->addFailure(rest);
    TMainForm& m = *f.form;
    f.answerOk([](TMusikCDForm& d) { d.STrackEd->setValue(3); });
    m.MusikCDBtn->click();

    QStringList expected{"TOC eingelesen...", "4 Tracks gefunden...", "Starte Ripping...",
                         "Fehler: SCSI Status 2; Code:3;11;5 \"Medium Error: l-ec uncorrectable error\""};
    for (int i = 0; i < 11; ++i) expected << "Fehler: SCSI Status 2; Code:2;3A;0 \"Not Ready: medium not present\"";
    expected << "Ripping beendet...";
    EXPECT_EQ(f.memoLines(), expected);
    EXPECT_EQ(drive->readCdCount(), 21);
    // Requests 1, 2 and 4 to 10 delivered: the gap of the third is closed up.
    ASSERT_EQ(m.document.byteCount, 9 * 23520);
    std::vector<uint8_t> sector(2352);
    SimulatedDrive::sectorAudio(381, sector.data());
    EXPECT_EQ(std::memcmp(m.document.sampleData.get() + 2 * 23520, sector.data(), 2352), 0);
    EXPECT_EQ(m.document.sampleRate, 44100);
    // Stopped at LBA 561: 210 blocks into track 3.
    EXPECT_EQ(f.dialog().Label1->text(), "Track no. 3 Time 00:00:02 s");
    EXPECT_TRUE(f.zoomedOutFull());
}

TEST(MusikCDForm, AbbrechenDuringASlowReadKeepsWhatWasRead) {
    CdForm f;
    auto drive = f.addDrive("/dev/sr0", "CDR-TEST 52X");
    drive->setDelay(std::chrono::milliseconds(5));
    TMainForm& m = *f.form;
    std::vector<QString> positions;
    drive->setOnRequest([&](const SimulatedRequest& r) {
        if (r.opcode() != 0xBE) return;
        positions.push_back(f.dialog().Label1->text());
        // The user clicks "Abbrechen" while the 16th request runs; the loop
        // sees it at its next pump and still sends that request.
        if (positions.size() == 16)
            QMetaObject::invokeMethod(
                f.dialog().BitBtnXP2, [&f] { f.dialog().BitBtnXP2->click(); }, Qt::QueuedConnection);
    });
    f.answerOkModal([](TMusikCDForm& d) { d.STrackEd->setValue(3); });
    m.MusikCDBtn->click();

    EXPECT_FALSE(f.dialog().isVisible());
    EXPECT_TRUE(f.dialog().ripState.ripStopRequested);
    EXPECT_EQ(drive->readCdCount(), 17);
    EXPECT_TRUE(holdsAudio(m.document, 351, 170));
    EXPECT_EQ(f.memoLines(),
              QStringList({"TOC eingelesen...", "4 Tracks gefunden...", "Starte Ripping...", "Ripping beendet..."}));
    // Label1 follows the read: empty before the first request, then the
    // position after each one.
    ASSERT_EQ(positions.size(), 17u);
    EXPECT_TRUE(positions[0].isEmpty());
    EXPECT_EQ(positions[1], "Track no. 3 Time 00:00:00 s");
    EXPECT_EQ(positions[8], "Track no. 3 Time 00:00:01 s");
    EXPECT_EQ(f.dialog().Label1->text(), "Track no. 3 Time 00:00:02 s");
    EXPECT_TRUE(f.zoomedOutFull());

    // The next read starts afresh and reads the whole track.
    drive->setOnRequest(nullptr);
    drive->setDelay(std::chrono::milliseconds(0));
    f.answerOkModal([](TMusikCDForm& d) { d.STrackEd->setValue(1); });
    f.prompts.messageAnswers.push_back(MB_DISCARD);  // the part read first is not kept
    m.MusikCDBtn->click();
    EXPECT_TRUE(holdsAudio(m.document, 150, 100));
    EXPECT_FALSE(f.dialog().ripState.ripStopRequested);
}

TEST(MusikCDForm, ClosingTheDialogStopsTheReadLikeAbbrechen) {
    CdForm f;
    auto drive = f.addDrive("/dev/sr0", "CDR-TEST 52X");
    TMainForm& m = *f.form;
    drive->setOnRequest([&](const SimulatedRequest& r) {
        if (r.opcode() == 0xBE && drive->readCdCount() == 3)
            QMetaObject::invokeMethod(&f.dialog(), [&f] { f.dialog().close(); }, Qt::QueuedConnection);
    });
    f.answerOkModal([](TMusikCDForm& d) { d.STrackEd->setValue(3); });
    m.MusikCDBtn->click();
    EXPECT_FALSE(f.dialog().isVisible());
    EXPECT_EQ(drive->readCdCount(), 4);
    EXPECT_TRUE(holdsAudio(m.document, 351, 40));
}
