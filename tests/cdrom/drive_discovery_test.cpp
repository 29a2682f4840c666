#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cdrom/DriveDiscovery.h"
#include "cdrom/SimulatedDrive.h"

namespace notavox {
namespace {

struct Discovery {
    SimulatedScsiSystem sys;
    CdDriveTable table;
    std::vector<std::string> log;

    void run() {
        FindAllCDDrives(sys, table, [this](const std::string& l) { log.push_back(l); });
    }
};

TEST(DriveDiscovery, BlockDevicesAreListedWithPathAndProductName) {
    Discovery d;
    d.sys.addBlockDrive("/dev/sr0")->setProduct("DVD-RW DRIVE A");
    d.sys.addBlockDrive("/dev/sr1")->setProduct("CDROM XYZ-123456");
    d.run();
    EXPECT_TRUE(d.table.useSpti);
    ASSERT_EQ(d.table.cdDriveCount, 2);
    EXPECT_EQ(DriveListItems(d.table),
              (std::vector<std::string>{"/dev/sr0: DVD-RW DRIVE A  ", "/dev/sr1: CDROM XYZ-123456"}));
    EXPECT_EQ(d.table.cdDrives[0].hostAdapter, 1);
    EXPECT_EQ(d.table.cdDrives[0].target, 0);
    EXPECT_EQ(d.table.cdDrives[0].lun, 0);
    EXPECT_TRUE(d.log.empty());
}

TEST(DriveDiscovery, InquiryIsTheExactCommand) {
    Discovery d;
    auto drive = d.sys.addBlockDrive("/dev/sr0");
    d.run();
    ASSERT_EQ(drive->requests().size(), 1u);
    const SimulatedRequest& r = drive->requests()[0];
    EXPECT_EQ(r.cdb, (std::vector<uint8_t>{0x12, 0x00, 0x00, 0x00, 0xFF, 0x00}));
    EXPECT_EQ(r.length, 255u);
    EXPECT_EQ(r.timeoutSeconds, 2u);
}

TEST(DriveDiscovery, RejectedInquiryKeepsTheDefaultNameAndUnopenableDevicesAreSkipped) {
    Discovery d;
    d.sys.addBlockDrive("/dev/sr0", false);
    SimulatedFailure f;
    f.opcode = 0x12;
    d.sys.addBlockDrive("/dev/sr1")->addFailure(f);
    SimulatedFailure lost = f;
    lost.delivered = false;
    d.sys.addBlockDrive("/dev/sr2")->addFailure(lost);
    d.run();
    EXPECT_EQ(DriveListItems(d.table), (std::vector<std::string>{"/dev/sr1: CD-DRIVE", "/dev/sr2: CD-DRIVE"}));
    EXPECT_TRUE(d.log.empty());
}

TEST(DriveDiscovery, ProductNameBytesAreTakenOneCharacterEach) {
    uint8_t data[36] = {};
    const char* id = "AB\x01" "D\xE9" "F";
    std::memcpy(data + 16, id, 6);
    EXPECT_EQ(InquiryProductName(data, 36), "AB D\xC3\xA9" "F");  // NUL ends the name
    EXPECT_EQ(InquiryProductName(data, 18), "AB");                  // only what was transferred
    EXPECT_EQ(InquiryProductName(data, 10), "");
}

TEST(DriveDiscovery, BlankProductIdentificationIsKeptAsBlanks) {
    Discovery d;
    auto drive = d.sys.addBlockDrive("/dev/sr0");
    drive->setProduct("");  // blanks only
    d.run();
    EXPECT_EQ(DriveListItems(d.table), (std::vector<std::string>{"/dev/sr0: " + std::string(16, ' ')}));
}

TEST(DriveDiscovery, NoMoreThan32Drives) {
    Discovery d;
    for (int i = 0; i < 40; ++i) d.sys.addBlockDrive("/dev/sr" + std::to_string(i));
    d.run();
    EXPECT_EQ(d.table.cdDriveCount, 32);
    EXPECT_EQ(d.sys.openCount(), 32);
    EXPECT_EQ(d.table.cdDrives[31].device, "/dev/sr31");
    EXPECT_EQ(d.sys.layerLoads(), 0);
}

TEST(DriveDiscovery, GenericLayerOnlyWithoutBlockDevicesAndListsNamesAlone) {
    Discovery d;
    d.sys.addBlockDrive("/dev/sr0", false);  // there but not usable
    d.sys.addGenericDevice(0, 0, 0);         // a disk
    d.sys.addGenericDevice(0, 3)->setProduct("GENERIC CD");
    d.sys.addGenericDevice(2, 15)->setProduct("OTHER CD");
    d.sys.addGenericDevice(1, 16);           // beyond the targets searched
    d.run();
    EXPECT_FALSE(d.table.useSpti);
    ASSERT_EQ(d.table.cdDriveCount, 2);
    EXPECT_EQ(DriveListItems(d.table), (std::vector<std::string>{"GENERIC CD      ", "OTHER CD        "}));
    EXPECT_EQ(d.table.cdDrives[1].hostAdapter, 2);
    EXPECT_EQ(d.table.cdDrives[1].target, 15);
    EXPECT_TRUE(d.log.empty());
}

TEST(DriveDiscovery, GenericLayerFailuresAreLogged) {
    {
        Discovery d;
        d.sys.setGenericLayerPresent(false);
        d.run();
        EXPECT_EQ(d.table.cdDriveCount, 0);
        EXPECT_EQ(d.log, (std::vector<std::string>{"Konnte ASPI Layer nicht laden..."}));
    }
    {
        Discovery d;
        d.sys.addGenericDevice(0, 1);
        d.sys.setSupportInfo((uint32_t{kGenericInitFailed} << 8) | 1);
        d.run();
        EXPECT_EQ(d.table.cdDriveCount, 0);
        EXPECT_EQ(d.log, (std::vector<std::string>{"Konnte ASPI Layer nicht initialisieren..."}));
    }
    {
        Discovery d;  // the layer is there but has no adapters
        d.run();
        EXPECT_EQ(d.table.cdDriveCount, 0);
        EXPECT_TRUE(d.log.empty());
    }
    {
        Discovery d;
        SimulatedFailure f;
        f.opcode = 0x12;
        d.sys.addGenericDevice(0, 2)->addFailure(f);
        d.run();
        EXPECT_EQ(d.log, (std::vector<std::string>{"Fehler 4 beim Ausführen des SCSI Kommandos..."}));
        EXPECT_EQ(DriveListItems(d.table), (std::vector<std::string>{"CD-DRIVE"}));
    }
}

TEST(DriveDiscovery, GenericLayerAlsoStopsAt32) {
    Discovery d;
    for (int ha = 0; ha < 3; ++ha)
        for (int t = 0; t < 16; ++t) d.sys.addGenericDevice(static_cast<uint8_t>(ha), static_cast<uint8_t>(t));
    d.run();
    EXPECT_EQ(d.table.cdDriveCount, 32);
    EXPECT_EQ(d.table.cdDrives[31].hostAdapter, 1);
    EXPECT_EQ(d.table.cdDrives[31].target, 15);
}

TEST(DriveDiscovery, ASecondScanStartsFromAnEmptyTable) {
    Discovery d;
    d.sys.addBlockDrive("/dev/sr0");
    d.run();
    d.run();
    EXPECT_EQ(d.table.cdDriveCount, 1);
}

}  // namespace
}  // namespace notavox
