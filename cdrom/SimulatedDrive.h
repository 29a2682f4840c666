// A simulated CD drive with a disc image, and a simulated system of such
// drives behind the transport interface. The real discovery, TOC, read and
// log code runs against it in the tests and the benchmark; the program never
// uses it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cdrom/ScsiTransport.h"

namespace notavox {

// One command as the drive received it.
struct SimulatedRequest {
    std::vector<uint8_t> cdb;
    uint32_t length = 0;
    uint32_t timeoutSeconds = 0;

    uint8_t opcode() const { return cdb.empty() ? 0 : cdb[0]; }
    // The LBA of a READ CD request.
    uint32_t lba() const;
};

// Makes chosen requests fail. A rule matches a request with its opcode and,
// for READ CD, an LBA in [firstLba, lastLba].
struct SimulatedFailure {
    uint8_t opcode = 0xBE;
    uint32_t firstLba = 0;
    uint32_t lastLba = UINT32_MAX;
    // How many matching requests fail; negative: every one.
    int times = -1;
    // False: the request does not even reach the drive (the system call fails).
    bool delivered = true;
    uint8_t scsiStatus = 2;  // check condition
    uint8_t senseKey = 3;
    uint8_t asc = 0x11;
    uint8_t ascq = 0x05;
};

// Makes READ CD at chosen LBAs report success with fewer bytes.
struct SimulatedShortTransfer {
    uint32_t lba = 0;
    uint32_t bytes = 0;
};

class SimulatedDrive {
public:
    // A disc with audio tracks starting at `trackStarts` (the last value is
    // the lead-out), numbered from `firstTrack`.
    void setDisc(std::vector<uint32_t> trackStarts, uint8_t firstTrack = 1);
    void removeDisc() { hasDisc_ = false; }
    // Returns these bytes for READ TOC instead of the disc's own TOC.
    void setRawToc(std::vector<uint8_t> bytes) { rawToc_ = std::move(bytes); haveRawToc_ = true; }
    // The product identification INQUIRY reports (padded to 16 characters).
    void setProduct(const std::string& product) { product_ = product; }
    void addFailure(const SimulatedFailure& f) { failures_.push_back(f); }
    void addShortTransfer(const SimulatedShortTransfer& s) { shortTransfers_.push_back(s); }
    // Every READ CD takes this long.
    void setDelay(std::chrono::milliseconds d) { delay_ = d; }
    // Called with each request before it is answered.
    void setOnRequest(std::function<void(const SimulatedRequest&)> f) { onRequest_ = std::move(f); }

    ScsiOutcome execute(const uint8_t* cdb, uint8_t cdbLength, uint8_t* data, uint32_t length,
                        uint32_t timeoutSeconds);

    const std::vector<SimulatedRequest>& requests() const { return requests_; }
    int readCdCount() const;

    // The known audio of the disc: 2352 bytes of sector `lba`, 588 stereo
    // frames whose samples depend on the frame's position on the disc.
    static void sectorAudio(uint32_t lba, uint8_t* out);
    // Left and right sample of frame `frame` counted from the start of the disc.
    static int16_t leftSample(uint64_t frame);
    static int16_t rightSample(uint64_t frame);

    // Sectors this far past the lead-out can still be read, as real drives do.
    static constexpr uint32_t kReadableBeyondLeadOut = 150;

private:
    ScsiOutcome checkCondition(uint8_t key, uint8_t asc, uint8_t ascq) const;
    std::vector<uint8_t> tocBytes() const;

    bool hasDisc_ = false;
    uint8_t firstTrack_ = 1;
    std::vector<uint32_t> trackStarts_;
    std::vector<uint8_t> rawToc_;
    bool haveRawToc_ = false;
    std::string product_ = "SIMULATED CDROM";
    std::vector<SimulatedFailure> failures_;
    std::vector<SimulatedShortTransfer> shortTransfers_;
    std::chrono::milliseconds delay_{0};
    std::function<void(const SimulatedRequest&)> onRequest_;
    std::vector<SimulatedRequest> requests_;
};

// A machine with simulated drives on CD block devices and on the generic layer.
class SimulatedScsiSystem : public ScsiTransport {
public:
    // A drive on a CD block device; `openable` false makes opening it fail.
    std::shared_ptr<SimulatedDrive> addBlockDrive(const std::string& path, bool openable = true);
    // A device of the generic layer at an address with a device type.
    std::shared_ptr<SimulatedDrive> addGenericDevice(uint8_t hostAdapter, uint8_t target, uint8_t deviceType = 5);
    void setGenericLayerPresent(bool present) { genericPresent_ = present; }
    // Overrides the support information (status << 8 | adapters).
    void setSupportInfo(uint32_t info) { supportInfo_ = info; haveSupportInfo_ = true; }

    std::vector<std::string> cdBlockDevices() override;
    std::unique_ptr<ScsiDevice> openDevice(const std::string& path) override;
    std::unique_ptr<GenericScsiLayer> loadGenericLayer() override;

    int openCount() const { return openCount_; }
    int layerLoads() const { return layerLoads_; }

private:
    friend class SimulatedGenericLayer;
    struct BlockEntry {
        std::string path;
        bool openable;
        std::shared_ptr<SimulatedDrive> drive;
    };
    struct GenericEntry {
        uint8_t hostAdapter;
        uint8_t target;
        uint8_t type;
        std::shared_ptr<SimulatedDrive> drive;
    };
    std::vector<BlockEntry> block_;
    std::vector<GenericEntry> generic_;
    bool genericPresent_ = true;
    bool haveSupportInfo_ = false;
    uint32_t supportInfo_ = 0;
    int openCount_ = 0;
    int layerLoads_ = 0;
};

}  // namespace notavox
