#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cdrom/RippedAudio.h"
#include "cdrom/SimulatedDrive.h"
#include "cdrom/TrackRipper.h"

namespace notavox {
namespace {

using testing::holdsAudio;

// A disc of four tracks; track 2 is 1001 blocks long.
const std::vector<uint32_t> kDisc = {150, 2150, 3151, 5000, 7000};

struct RecordingHost : RipHost {
    std::vector<std::string> lines;
    std::vector<std::string> positions;
    const TrackTable* toc = nullptr;
    int pumps = 0;
    std::function<void()> onPump;

    void ProcessMessages() override {
        ++pumps;
        if (onPump) onPump();
    }
    void log(const std::string& line) override { lines.push_back(line); }
    void ChangeSec(int64_t lba) override { positions.push_back(ChangeSecText(lba, *toc)); }
};

struct Rip {
    SimulatedScsiSystem sys;
    std::shared_ptr<SimulatedDrive> drive;
    CdDriveTable table;
    CdRipState state;
    AudioDocument doc;
    RecordingHost host;
    RipSettings settings;

    explicit Rip(bool generic = false) {
        drive = generic ? sys.addGenericDevice(1, 4) : sys.addBlockDrive("/dev/sr0");
        drive->setDisc(kDisc);
        FindAllCDDrives(sys, table, [](const std::string&) {});
        settings.driveIndex = 0;
        host.toc = &state.toc;
    }
    RipEnd run() { return SaveTrack(sys, table, settings, state, doc, host); }
};

TEST(TrackRipper, ReadsATrackIntoTheRecordingWithTheExactLog) {
    Rip r;
    r.settings.trackNumber = 2;
    r.doc.selectionStart = 5;
    r.doc.selectionEnd = 9;
    EXPECT_EQ(r.run(), RipEnd::Finished);
    EXPECT_EQ(r.host.lines, (std::vector<std::string>{"TOC eingelesen...", "4 Tracks gefunden...", "Starte Ripping...",
                                                      "Ripping beendet..."}));
    // 1001 blocks are 101 requests; the last one reads 9 blocks of track 3.
    EXPECT_EQ(r.drive->readCdCount(), 101);
    EXPECT_TRUE(holdsAudio(r.doc, 2150, 1010));
    EXPECT_EQ(r.doc.selectionStart, 0);
    EXPECT_EQ(r.doc.selectionEnd, 0);
    EXPECT_EQ(r.host.pumps, 101);
    EXPECT_EQ(r.state.toc.trackCount, 4);
    EXPECT_EQ(r.state.toc.trackStarts[1], 150u);
    EXPECT_EQ(r.state.toc.trackStarts[5], 7000u);
    // ChangeSec after every request and once after the loop.
    ASSERT_EQ(r.host.positions.size(), 102u);
    EXPECT_EQ(r.host.positions.front(), "Track no. 2 Time 00:00:00 s");
    EXPECT_EQ(r.host.positions.back(), "Track no. 3 Time 00:00:00 s");
}

TEST(TrackRipper, SendsTheExactCommandBlocks) {
    Rip r;
    r.settings.trackNumber = 1;
    r.run();
    const auto& reqs = r.drive->requests();
    ASSERT_GE(reqs.size(), 3u);
    EXPECT_EQ(reqs[1].cdb, (std::vector<uint8_t>{0x43, 0, 0, 0, 0, 0, 0, 0x08, 0, 0}));
    EXPECT_EQ(reqs[1].length, 2048u);
    EXPECT_EQ(reqs[1].timeoutSeconds, 2u);
    EXPECT_EQ(reqs[2].cdb, (std::vector<uint8_t>{0xBE, 0, 0, 0, 0, 150, 0, 0, 10, 0x10, 0, 0}));
    EXPECT_EQ(reqs[2].length, 23520u);
    EXPECT_EQ(reqs[2].timeoutSeconds, 200u);
    EXPECT_EQ(reqs.back().lba(), 2140u);
    EXPECT_EQ(ReadCdCdb(0x01020304)[2], 0x01);
    EXPECT_EQ(ReadCdCdb(0x01020304)[5], 0x04);
}

TEST(TrackRipper, InvalidTrackNumberLeavesEverythingAlone) {
    Rip r;
    r.doc.replace(allocateBlock(4), 4, 22050, false, true);
    r.settings.trackNumber = 5;
    EXPECT_EQ(r.run(), RipEnd::InvalidTrack);
    EXPECT_EQ(r.host.lines, (std::vector<std::string>{"TOC eingelesen...", "Ungültige Track-Nummer..."}));
    EXPECT_EQ(r.doc.byteCount, 4);
    EXPECT_EQ(r.doc.sampleRate, 22050);
    EXPECT_EQ(r.drive->readCdCount(), 0);
    EXPECT_TRUE(r.host.positions.empty());
}

TEST(TrackRipper, NoDiscMeansTheTocCannotBeRead) {
    Rip r;
    r.drive->removeDisc();
    r.doc.replace(allocateBlock(8), 8, 8000, false, false);
    EXPECT_EQ(r.run(), RipEnd::Finished);
    EXPECT_EQ(r.host.lines,
              (std::vector<std::string>{"Konnte TOC nicht lesen...", "Starte Ripping...", "Ripping beendet..."}));
    EXPECT_EQ(r.doc.byteCount, 8);
    EXPECT_EQ(r.drive->readCdCount(), 0);
    // The preset table: position 0 lies before track 1's start of 500.
    EXPECT_EQ(r.state.toc.trackCount, 1);
    EXPECT_EQ(r.state.toc.trackStarts[1], 500u);
    EXPECT_EQ(r.state.toc.trackStarts[2], 450000u);
    EXPECT_EQ(r.host.positions, (std::vector<std::string>{"Track no. 1 Time 00:00:00 s"}));
}

TEST(TrackRipper, UnopenableDeviceAndMissingDrive) {
    {
        SimulatedScsiSystem sys;
        CdDriveTable table;
        table.cdDriveCount = 1;
        table.cdDrives[0].device = "/dev/sr7";  // no longer there
        CdRipState state;
        AudioDocument doc;
        RecordingHost host;
        host.toc = &state.toc;
        RipSettings s;
        s.driveIndex = 0;
        EXPECT_EQ(SaveTrack(sys, table, s, state, doc, host), RipEnd::Finished);
        EXPECT_EQ(host.lines,
                  (std::vector<std::string>{"Kein Laufwerkszugriff über SPTI möglich...", "Ripping beendet..."}));
        EXPECT_TRUE(doc.empty());
    }
    for (int index : {-1, 1, 40}) {
        Rip r;
        r.settings.driveIndex = index;
        EXPECT_EQ(r.run(), RipEnd::NoDrive);
        EXPECT_EQ(r.host.lines, (std::vector<std::string>{"Kein Laufwerk gefunden..."}));
        EXPECT_EQ(r.drive->readCdCount(), 0);
    }
}

TEST(TrackRipper, FailedRequestsAreLoggedWithSenseAndLeaveGaps) {
    Rip r;
    r.settings.trackNumber = 1;  // 2000 blocks: 200 requests
    SimulatedFailure f;          // medium error at the second request
    f.firstLba = f.lastLba = 160;
    r.drive->addFailure(f);
    SimulatedFailure g;  // a request that never reaches the drive
    g.firstLba = g.lastLba = 180;
    g.delivered = false;
    r.drive->addFailure(g);
    SimulatedFailure h;  // not ready, with flag bits in the sense key byte
    h.firstLba = h.lastLba = 200;
    h.senseKey = 0x22;
    h.asc = 0x04;
    h.ascq = 0x01;
    r.drive->addFailure(h);
    r.run();
    EXPECT_EQ(r.host.lines,
              (std::vector<std::string>{
                  "TOC eingelesen...", "4 Tracks gefunden...", "Starte Ripping...",
                  "Fehler: SCSI Status 2; Code:3;11;5 \"Medium Error: l-ec uncorrectable error\"",
                  "Fehler: SCSI Status 0; Code:0;0;0 \"No Additional Sense: no additional sense information\"",
                  "Fehler: SCSI Status 2; Code:22;4;1 \"Fehler: logical unit is in process of becoming ready\"",
                  "Ripping beendet..."}));
    EXPECT_EQ(r.drive->readCdCount(), 200);
    EXPECT_EQ(r.doc.byteCount, 197 * 23520);
    // The blocks after the first gap follow the first request directly.
    std::vector<uint8_t> sector(2352);
    SimulatedDrive::sectorAudio(170, sector.data());
    EXPECT_EQ(std::memcmp(r.doc.sampleData.get() + 23520, sector.data(), 2352), 0);
}

TEST(TrackRipper, ElevenConsecutiveFailuresEndTheRead) {
    Rip r;
    r.settings.trackNumber = 1;
    SimulatedFailure f;
    f.firstLba = 200;
    f.lastLba = 5000;
    f.times = 10;  // ten failures in a row do not stop the read
    r.drive->addFailure(f);
    r.run();
    EXPECT_EQ(r.drive->readCdCount(), 200);

    Rip s;
    s.settings.trackNumber = 1;
    SimulatedFailure g;
    g.firstLba = 200;
    s.drive->addFailure(g);
    s.run();
    EXPECT_EQ(s.drive->readCdCount(), 5 + 11);
    EXPECT_EQ(s.host.lines.size(), 3u + 11u + 1u);
    EXPECT_EQ(s.host.lines.back(), "Ripping beendet...");
    EXPECT_TRUE(holdsAudio(s.doc, 150, 50));
}

TEST(TrackRipper, ErrorCountRestartsAfterASuccess) {
    Rip r;
    r.settings.trackNumber = 1;
    SimulatedFailure a;
    a.firstLba = 200;
    a.lastLba = 290;  // ten failures
    r.drive->addFailure(a);
    SimulatedFailure b;
    b.firstLba = 310;
    b.lastLba = 400;  // ten more after one good request
    r.drive->addFailure(b);
    r.run();
    EXPECT_EQ(r.drive->readCdCount(), 200);
}

TEST(TrackRipper, ShortTransfersAddOnlyTheDeliveredFrames) {
    Rip r;
    r.settings.trackNumber = 3;  // 3151..5000: 185 requests
    r.drive->addShortTransfer({3151, 2352 * 3});
    r.drive->addShortTransfer({3161, 1001});  // not a whole frame: 250 frames count
    r.drive->addShortTransfer({3171, 0});
    r.run();
    EXPECT_EQ(r.doc.byteCount, 182 * 23520 + 3 * 2352 + 1000);
    std::vector<uint8_t> sector(2352);
    SimulatedDrive::sectorAudio(3181, sector.data());
    EXPECT_EQ(std::memcmp(r.doc.sampleData.get() + 3 * 2352 + 1000, sector.data(), 2352), 0);
}

TEST(TrackRipper, StopDuringThePumpEndsAfterTheCurrentRequest) {
    Rip r;
    r.settings.trackNumber = 1;
    r.host.onPump = [&] {
        if (r.host.pumps == 7) r.state.ripStopRequested = true;
    };
    r.run();
    EXPECT_EQ(r.drive->readCdCount(), 7);
    EXPECT_TRUE(holdsAudio(r.doc, 150, 70));
    EXPECT_EQ(r.host.lines.back(), "Ripping beendet...");
    // A new read clears the flag.
    r.host.onPump = nullptr;
    r.settings.trackNumber = 2;
    r.run();
    EXPECT_EQ(r.drive->readCdCount(), 7 + 101);
}

TEST(TrackRipper, KaraokeModeKeepsTheDifferenceOfTheChannels) {
    Rip r;
    r.settings.trackNumber = 2;
    r.settings.karaoke = true;
    r.run();
    ASSERT_EQ(r.doc.byteCount, 1010 * 2352);
    const uint8_t* p = r.doc.sampleData.get();
    for (uint64_t f = 0; f < 1010 * 588; f += 997) {
        const uint64_t disc = 2150 * 588 + f;
        const int32_t v = std::clamp((SimulatedDrive::leftSample(disc) - SimulatedDrive::rightSample(disc)) * 2 / 3,
                                     -32768, 32767);
        const int16_t l = static_cast<int16_t>(p[4 * f] | (p[4 * f + 1] << 8));
        const int16_t rr = static_cast<int16_t>(p[4 * f + 2] | (p[4 * f + 3] << 8));
        ASSERT_EQ(l, v) << f;
        ASSERT_EQ(rr, v) << f;
    }
}

TEST(TrackRipper, GenericLayerReadsTheSameTrack) {
    Rip r(true);
    ASSERT_FALSE(r.table.useSpti);
    r.settings.trackNumber = 4;  // 5000..7000
    SimulatedFailure f;
    f.firstLba = f.lastLba = 5010;
    r.drive->addFailure(f);
    r.run();
    EXPECT_EQ(r.host.lines,
              (std::vector<std::string>{"TOC eingelesen...", "4 Tracks gefunden...", "Starte Ripping...",
                                        "Fehler 4 beim Ausführen des SCSI Kommandos...", "Ripping beendet..."}));
    EXPECT_EQ(r.doc.byteCount, 199 * 23520);
    EXPECT_EQ(r.sys.layerLoads(), 2);  // discovery and the read
}

TEST(TrackRipper, GenericLayerFailures) {
    {
        Rip r(true);
        r.drive->removeDisc();
        r.run();
        EXPECT_EQ(r.host.lines, (std::vector<std::string>{"Fehler 4! Konnte TOC nicht lesen...", "Starte Ripping...",
                                                          "Ripping beendet..."}));
    }
    {
        Rip r(true);
        r.sys.setGenericLayerPresent(false);
        r.run();
        EXPECT_EQ(r.host.lines,
                  (std::vector<std::string>{"Konnte ASPI Layer nicht laden. Downloaden Sie den ASPI-Treiber von "
                                            "https://docs.kernel.org/scsi/scsi-generic.html!",
                                            "Ripping beendet..."}));
    }
    {
        Rip r(true);
        r.sys.setSupportInfo(0);
        r.run();
        EXPECT_EQ(r.host.lines,
                  (std::vector<std::string>{"Konnte ASPI Layer nicht initialisieren...", "Ripping beendet..."}));
    }
    {
        Rip r(true);
        r.settings.trackNumber = 9;
        r.run();
        EXPECT_EQ(r.host.lines, (std::vector<std::string>{"TOC eingelesen...", "Ungültige Track-Nummer..."}));
    }
}

TEST(TrackRipper, MalformedTocsAreUnreadable) {
    auto expectUnreadable = [](std::vector<uint8_t> toc) {
        Rip r;
        r.drive->setRawToc(std::move(toc));
        r.run();
        EXPECT_EQ(r.host.lines.at(0), "Konnte TOC nicht lesen...");
        EXPECT_EQ(r.drive->readCdCount(), 0);
        EXPECT_EQ(r.state.toc.trackCount, 1);
    };
    expectUnreadable({0, 10, 5, 4});                // last track below the first
    expectUnreadable({0, 18, 1, 3, 0, 0x10, 1, 0});  // descriptors cut off
    expectUnreadable({});                           // nothing returned
    std::vector<uint8_t> huge(2048, 0);
    huge[2] = 0;
    huge[3] = 255;  // 257 descriptors would not fit the table nor the data
    expectUnreadable(huge);
}

TEST(TrackRipper, ParseTocStaysWithinItsBounds) {
    // 255 tracks and the lead-out fill the table exactly.
    std::vector<uint8_t> toc(4 + 8 * 256, 0);
    toc[2] = 1;
    toc[3] = 255;
    for (int j = 0; j < 256; ++j) toc[8 + 8 * j + 2] = static_cast<uint8_t>(j), toc[8 + 8 * j + 3] = 1;
    TrackTable t;
    ASSERT_TRUE(ParseToc(toc.data(), static_cast<uint32_t>(toc.size()), t));
    EXPECT_EQ(t.trackCount, 255);
    EXPECT_EQ(t.trackStarts[256], (255u << 8) | 1u);
    EXPECT_FALSE(ParseToc(toc.data(), static_cast<uint32_t>(toc.size() - 1), t));
    toc[2] = 0;  // one more descriptor than the table holds
    EXPECT_FALSE(ParseToc(toc.data(), static_cast<uint32_t>(toc.size()), t));
    // A disc whose first track is not 1: entries still count from 1.
    const uint8_t two[] = {0, 18, 3, 4, 0, 0x10, 3, 0, 0, 0, 0, 150, 0, 0x10, 4, 0, 0, 0, 1, 0, 0, 0x10, 0xAA, 0, 0, 0, 2, 0};
    ASSERT_TRUE(ParseToc(two, sizeof two, t));
    EXPECT_EQ(t.trackCount, 2);
    EXPECT_EQ(t.trackStarts[1], 150u);
    EXPECT_EQ(t.trackStarts[3], 512u);
}

TEST(TrackRipper, KaraokeTransformOfSingleFrames) {
    auto transform = [](int16_t l, int16_t r) {
        uint8_t f[4] = {static_cast<uint8_t>(l), static_cast<uint8_t>(static_cast<uint16_t>(l) >> 8),
                        static_cast<uint8_t>(r), static_cast<uint8_t>(static_cast<uint16_t>(r) >> 8)};
        KaraokeTransform(f, 4);
        const int16_t a = static_cast<int16_t>(f[0] | (f[1] << 8));
        const int16_t b = static_cast<int16_t>(f[2] | (f[3] << 8));
        EXPECT_EQ(a, b);
        return a;
    };
    EXPECT_EQ(transform(300, 100), 133);
    EXPECT_EQ(transform(-300, 100), -266);
    EXPECT_EQ(transform(1234, 1234), 0);
    EXPECT_EQ(transform(32767, -32768), 32767);   // clamped, not wrapped
    EXPECT_EQ(transform(-32768, 32767), -32768);
    EXPECT_EQ(transform(-32768, 0), -21845);
    uint8_t odd[6] = {1, 0, 0, 0, 9, 9};  // bytes after the last whole frame stay
    KaraokeTransform(odd, 6);
    EXPECT_EQ(odd[4], 9);
}

TEST(TrackRipper, ChangeSecShowsTrackAndTime) {
    TrackTable t;
    t.trackStarts[1] = 150;
    t.trackStarts[2] = 30000;
    t.trackCount = 1;
    EXPECT_EQ(ChangeSecText(15075, t), "Track no. 1 Time 00:03:19 s");
    EXPECT_EQ(ChangeSecText(30000, t), "Track no. 1 Time 00:06:40 s");  // no entry above: from the disc start
    EXPECT_EQ(ChangeSecText(29999, t), "Track no. 1 Time 00:06:37 s");
    t.trackStarts[3] = 400000;
    t.trackCount = 2;
    EXPECT_EQ(ChangeSecText(30000 + 75 * 3725, t), "Track no. 2 Time 01:02:05 s");
    EXPECT_EQ(ChangeSecText(30074, t), "Track no. 2 Time 00:00:00 s");
    EXPECT_EQ(ChangeSecText(10, t), "Track no. 1 Time 00:00:00 s");  // before the first track
    TrackTable hours;
    hours.trackStarts[1] = 0;
    hours.trackStarts[2] = 0xFFFFFFFF;
    hours.trackCount = 1;
    EXPECT_EQ(ChangeSecText(int64_t{75} * 3600 * 123, hours), "Track no. 1 Time 123:00:00 s");
}

}  // namespace
}  // namespace notavox
