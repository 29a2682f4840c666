// Finding the CD drives of the machine and the table that holds them for
// the whole run of the program.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cdrom/ScsiTransport.h"

namespace notavox {

// Receives one line for the CD dialog's log.
using CdLog = std::function<void(const std::string& line)>;

struct CdDrive {
    // The CD block device (pass-through entries); empty for entries of the
    // generic layer, which are addressed by adapter, target and LUN.
    std::string device;
    uint8_t hostAdapter = 1;
    uint8_t target = 0;
    uint8_t lun = 0;
    // The product identification from INQUIRY, at most 16 characters, or
    // "CD-DRIVE" when the drive did not tell.
    std::string name;
};

constexpr int32_t kMaxCdDrives = 32;

struct CdDriveTable {
    // True: the pass-through on the block devices; false: the generic layer.
    bool useSpti = true;
    std::array<CdDrive, kMaxCdDrives> cdDrives;
    int32_t cdDriveCount = 0;
};

// Looks for drives on the CD block devices first; only when there is none
// the generic layer is searched. Fills `table` (at most 32 entries) and logs
// the generic layer's failures.
void FindAllCDDrives(ScsiTransport& transport, CdDriveTable& table, const CdLog& log);

// The texts of the drive list, one per table entry: the device path, ": " and
// the name for block devices, the name alone for the generic layer.
std::vector<std::string> DriveListItems(const CdDriveTable& table);

// The INQUIRY command of the discovery (allocation length 255).
constexpr uint8_t kInquiryCdb[6] = {0x12, 0x00, 0x00, 0x00, 0xFF, 0x00};
constexpr uint32_t kInquiryLength = 255;
constexpr uint32_t kInquiryTimeout = 2;

// The product identification (bytes 16..31) of `transferred` bytes of
// INQUIRY data as UTF-8, each byte one character (Latin-1), trailing blanks
// kept. A NUL byte ends it; other control bytes become blanks. Empty when
// the drive delivered none of those bytes.
std::string InquiryProductName(const uint8_t* data, uint32_t transferred);

}  // namespace notavox
