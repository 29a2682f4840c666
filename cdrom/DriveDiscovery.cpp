#include "cdrom/DriveDiscovery.h"

#include <algorithm>

namespace notavox {

namespace {

const char* const kDefaultDriveName = "CD-DRIVE";

std::string nameFromInquiry(const ScsiOutcome& out, const uint8_t* data) {
    std::string name = InquiryProductName(data, out.transferred);
    return name.empty() ? kDefaultDriveName : name;
}

void findBlockDeviceDrives(ScsiTransport& transport, CdDriveTable& table) {
    for (const std::string& path : transport.cdBlockDevices()) {
        if (table.cdDriveCount >= kMaxCdDrives) return;
        std::unique_ptr<ScsiDevice> device = transport.openDevice(path);
        if (!device) continue;
        CdDrive drive;
        drive.device = path;
        drive.name = kDefaultDriveName;
        uint8_t data[kInquiryLength] = {};
        const ScsiOutcome out = device->execute(kInquiryCdb, sizeof kInquiryCdb, data, kInquiryLength, kInquiryTimeout);
        if (out.succeeded()) drive.name = nameFromInquiry(out, data);
        table.cdDrives[table.cdDriveCount++] = drive;
    }
}

void findGenericLayerDrives(ScsiTransport& transport, CdDriveTable& table, const CdLog& log) {
    std::unique_ptr<GenericScsiLayer> layer = transport.loadGenericLayer();
    if (!layer) {
        log("Konnte ASPI Layer nicht laden...");
        return;
    }
    const uint32_t info = layer->supportInfo();
    const uint8_t status = static_cast<uint8_t>(info >> 8);
    if (status != kGenericCompleted && status != kGenericNoAdapters) {
        log("Konnte ASPI Layer nicht initialisieren...");
        return;
    }
    const int adapterCount = static_cast<int>(info & 0xFF);
    for (int ha = 0; ha < adapterCount; ++ha) {
        for (int target = 0; target < 16; ++target) {
            if (table.cdDriveCount >= kMaxCdDrives) return;
            uint8_t type = 0;
            const uint8_t rc = layer->getDeviceType(static_cast<uint8_t>(ha), static_cast<uint8_t>(target), 0, type);
            if (rc != kGenericCompleted || type != kDeviceTypeCdRom) continue;
            CdDrive drive;
            drive.hostAdapter = static_cast<uint8_t>(ha);
            drive.target = static_cast<uint8_t>(target);
            drive.lun = 0;
            drive.name = kDefaultDriveName;
            uint8_t data[kInquiryLength] = {};
            const ScsiOutcome out = layer->execute(drive.hostAdapter, drive.target, 0, kInquiryCdb, sizeof kInquiryCdb,
                                                   data, kInquiryLength, kInquiryTimeout);
            if (out.succeeded())
                drive.name = nameFromInquiry(out, data);
            else
                log("Fehler " + std::to_string(kGenericError) + " beim Ausführen des SCSI Kommandos...");
            table.cdDrives[table.cdDriveCount++] = drive;
        }
    }
}

}  // namespace

std::string InquiryProductName(const uint8_t* data, uint32_t transferred) {
    std::string name;
    const uint32_t end = std::min<uint32_t>(transferred, 32);
    for (uint32_t i = 16; i < end; ++i) {
        const uint8_t c = data[i];
        if (c == 0) break;
        if (c < 0x20 || c == 0x7F) {
            name += ' ';
        } else if (c < 0x80) {
            name += static_cast<char>(c);
        } else {
            name += static_cast<char>(0xC0 | (c >> 6));
            name += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return name;
}

void FindAllCDDrives(ScsiTransport& transport, CdDriveTable& table, const CdLog& log) {
    table = CdDriveTable{};
    table.useSpti = true;
    findBlockDeviceDrives(transport, table);
    if (table.cdDriveCount > 0) return;
    table.useSpti = false;
    findGenericLayerDrives(transport, table, log);
}

std::vector<std::string> DriveListItems(const CdDriveTable& table) {
    std::vector<std::string> items;
    for (int32_t i = 0; i < table.cdDriveCount; ++i) {
        const CdDrive& d = table.cdDrives[i];
        items.push_back(table.useSpti ? d.device + ": " + d.name : d.name);
    }
    return items;
}

}  // namespace notavox
