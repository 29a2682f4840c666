// The SCSI transport behind the CD code: open a drive, send it one command
// block with a data-in buffer, get back the SCSI status, 24 bytes of sense
// data and the number of bytes the drive delivered.
//
// Two ways to reach a drive exist, and one of them is chosen for a whole run:
//  - the pass-through on the CD block devices (/dev/sr0, /dev/sr1, ...), one
//    device per drive, addressed by its path;
//  - the generic SCSI layer (/dev/sg*), addressed by host adapter, target and
//    LUN as the kernel numbers them. It is used only when no CD block device
//    is there.
// The real implementation is SgTransport; tests put a simulated drive here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace notavox {

// The largest data-in transfer the CD code asks for: 10 audio sectors.
constexpr uint32_t kMaxScsiTransfer = 23520;
constexpr uint32_t kSenseLength = 24;

struct ScsiOutcome {
    // The request reached the drive and came back (the system call worked and
    // neither the adapter nor the driver reported a failure of its own).
    bool delivered = false;
    // The SCSI status byte returned by the drive (0 = good, 2 = check condition).
    uint8_t scsiStatus = 0;
    uint8_t sense[kSenseLength] = {};
    // Bytes of the data-in buffer the drive actually filled.
    uint32_t transferred = 0;

    bool succeeded() const { return delivered && scsiStatus == 0; }
};

// One opened drive. Closing it is destroying it.
class ScsiDevice {
public:
    virtual ~ScsiDevice() = default;
    // Sends `cdb` (6, 10 or 12 bytes) and reads up to `length` bytes
    // (at most kMaxScsiTransfer) into `data`.
    virtual ScsiOutcome execute(const uint8_t* cdb, uint8_t cdbLength, uint8_t* data, uint32_t length,
                                uint32_t timeoutSeconds) = 0;
};

// The generic SCSI layer, loaded for one operation and released when the
// object goes.
class GenericScsiLayer {
public:
    virtual ~GenericScsiLayer() = default;
    // Support information: the layer's status in bits 8..15 (1 = ready,
    // 0x82 = no host adapters, anything else = not usable) and the number of
    // host adapters in bits 0..7.
    virtual uint32_t supportInfo() = 0;
    // Asks for the peripheral device type at an address. Returns 1 with
    // `deviceType` filled when a device answers there, another value when not.
    virtual uint8_t getDeviceType(uint8_t hostAdapter, uint8_t target, uint8_t lun, uint8_t& deviceType) = 0;
    // Executes a command at an address; same contract as ScsiDevice::execute.
    virtual ScsiOutcome execute(uint8_t hostAdapter, uint8_t target, uint8_t lun, const uint8_t* cdb,
                                uint8_t cdbLength, uint8_t* data, uint32_t length, uint32_t timeoutSeconds) = 0;
};

class ScsiTransport {
public:
    virtual ~ScsiTransport() = default;
    // The CD block devices of the machine, in their order (sr0 before sr1).
    virtual std::vector<std::string> cdBlockDevices() = 0;
    // Opens a CD block device; null when it cannot be opened.
    virtual std::unique_ptr<ScsiDevice> openDevice(const std::string& path) = 0;
    // Finds the generic SCSI layer; null when the system has none.
    virtual std::unique_ptr<GenericScsiLayer> loadGenericLayer() = 0;
};

// Peripheral device type of a CD-ROM drive.
constexpr uint8_t kDeviceTypeCdRom = 5;
// Status values of the generic layer.
constexpr uint8_t kGenericCompleted = 1;      // command completed without error
constexpr uint8_t kGenericError = 4;          // command completed with an error
constexpr uint8_t kGenericNoAdapters = 0x82;  // support status: no host adapters
constexpr uint8_t kGenericInitFailed = 0xE8;  // support status: layer present but unusable

}  // namespace notavox
