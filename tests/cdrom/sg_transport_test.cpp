#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "cdrom/DriveDiscovery.h"
#include "support/TempDir.h"
#include "cdrom/SgTransport.h"

namespace notavox {
namespace {

struct TempFolder {
    notavox::testing::TempDir dir;
    std::string path = dir.path();
    void touch(const std::string& name) const { std::ofstream(path + "/" + name) << ""; }
};

TEST(SgTransport, NumberedNodesAreOrderedByNumber) {
    TempFolder dev;
    for (const char* n : {"sr10", "sr2", "sr0", "sra", "sr", "sg1", "sr1x"}) dev.touch(n);
    EXPECT_EQ(numberedDeviceNodes(dev.path, "sr"),
              (std::vector<std::string>{dev.path + "/sr0", dev.path + "/sr2", dev.path + "/sr10"}));
    EXPECT_TRUE(numberedDeviceNodes(dev.path + "/missing", "sr").empty());
}

TEST(SgTransport, OnlyBlockDevicesCountAsCdDrives) {
    TempFolder dev;
    dev.touch("sr0");  // a plain file, not a device
    SgTransport t(dev.path, dev.path);
    EXPECT_TRUE(t.cdBlockDevices().empty());
    EXPECT_EQ(t.openDevice(dev.path + "/nothing"), nullptr);
}

TEST(SgTransport, WithoutTheGenericDriverTheLayerIsMissing) {
    TempFolder dev, sys;
    SgTransport t(dev.path, sys.path);
    EXPECT_EQ(t.loadGenericLayer(), nullptr);
    CdDriveTable table;
    std::vector<std::string> log;
    FindAllCDDrives(t, table, [&](const std::string& l) { log.push_back(l); });
    EXPECT_EQ(table.cdDriveCount, 0);
    EXPECT_EQ(log, (std::vector<std::string>{"Konnte ASPI Layer nicht laden..."}));
}

TEST(SgTransport, DriverWithoutDevicesHasNoAdapters) {
    TempFolder dev, sys;
    ::mkdir((sys.path + "/class").c_str(), 0700);
    ::mkdir((sys.path + "/class/scsi_generic").c_str(), 0700);
    dev.touch("sg0");  // not a character device: ignored
    SgTransport t(dev.path, sys.path);
    auto layer = t.loadGenericLayer();
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->supportInfo(), uint32_t{kGenericNoAdapters} << 8);
    uint8_t type = 0;
    EXPECT_EQ(layer->getDeviceType(0, 0, 0, type), kGenericError);
    uint8_t data[8];
    EXPECT_FALSE(layer->execute(0, 0, 0, kInquiryCdb, 6, data, 8, 2).delivered);
}

TEST(SgTransport, ThisMachinesDrivesCanBeScanned) {
    // Whatever the machine has: the scan must come back with a sane table.
    SgTransport t;
    CdDriveTable table;
    FindAllCDDrives(t, table, [](const std::string&) {});
    EXPECT_GE(table.cdDriveCount, 0);
    EXPECT_LE(table.cdDriveCount, kMaxCdDrives);
}

}  // namespace
}  // namespace notavox
