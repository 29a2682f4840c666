#include "cdrom/SimulatedDrive.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace notavox {

uint32_t SimulatedRequest::lba() const {
    if (cdb.size() < 6) return 0;
    return (uint32_t{cdb[2]} << 24) | (uint32_t{cdb[3]} << 16) | (uint32_t{cdb[4]} << 8) | uint32_t{cdb[5]};
}

void SimulatedDrive::setDisc(std::vector<uint32_t> trackStarts, uint8_t firstTrack) {
    trackStarts_ = std::move(trackStarts);
    firstTrack_ = firstTrack;
    hasDisc_ = true;
}

int16_t SimulatedDrive::leftSample(uint64_t frame) {
    return static_cast<int16_t>(static_cast<uint16_t>(frame * 7 + 3));
}

int16_t SimulatedDrive::rightSample(uint64_t frame) {
    return static_cast<int16_t>(static_cast<uint16_t>(frame * 13 + 11));
}

void SimulatedDrive::sectorAudio(uint32_t lba, uint8_t* out) {
    const uint64_t firstFrame = uint64_t{lba} * 588;
    for (uint32_t f = 0; f < 588; ++f) {
        const auto l = static_cast<uint16_t>(leftSample(firstFrame + f));
        const auto r = static_cast<uint16_t>(rightSample(firstFrame + f));
        out[4 * f] = static_cast<uint8_t>(l);
        out[4 * f + 1] = static_cast<uint8_t>(l >> 8);
        out[4 * f + 2] = static_cast<uint8_t>(r);
        out[4 * f + 3] = static_cast<uint8_t>(r >> 8);
    }
}

int SimulatedDrive::readCdCount() const {
    return static_cast<int>(std::count_if(requests_.begin(), requests_.end(),
                                          [](const SimulatedRequest& r) { return r.opcode() == 0xBE; }));
}

ScsiOutcome SimulatedDrive::checkCondition(uint8_t key, uint8_t asc, uint8_t ascq) const {
    ScsiOutcome out;
    out.delivered = true;
    out.scsiStatus = 2;
    out.sense[0] = 0x70;
    out.sense[2] = key;
    out.sense[7] = 10;
    out.sense[12] = asc;
    out.sense[13] = ascq;
    return out;
}

std::vector<uint8_t> SimulatedDrive::tocBytes() const {
    if (haveRawToc_) return rawToc_;
    const size_t tracks = trackStarts_.empty() ? 0 : trackStarts_.size() - 1;
    std::vector<uint8_t> toc(4 + 8 * (tracks + 1), 0);
    const size_t dataLength = toc.size() - 2;
    toc[0] = static_cast<uint8_t>(dataLength >> 8);
    toc[1] = static_cast<uint8_t>(dataLength);
    toc[2] = firstTrack_;
    toc[3] = static_cast<uint8_t>(firstTrack_ + tracks - 1);
    for (size_t j = 0; j <= tracks; ++j) {
        uint8_t* d = toc.data() + 4 + 8 * j;
        d[1] = 0x10;  // audio, no pre-emphasis
        d[2] = j < tracks ? static_cast<uint8_t>(firstTrack_ + j) : 0xAA;
        const uint32_t lba = trackStarts_[j];
        d[4] = static_cast<uint8_t>(lba >> 24);
        d[5] = static_cast<uint8_t>(lba >> 16);
        d[6] = static_cast<uint8_t>(lba >> 8);
        d[7] = static_cast<uint8_t>(lba);
    }
    return toc;
}

ScsiOutcome SimulatedDrive::execute(const uint8_t* cdb, uint8_t cdbLength, uint8_t* data, uint32_t length,
                                    uint32_t timeoutSeconds) {
    SimulatedRequest req;
    req.cdb.assign(cdb, cdb + cdbLength);
    req.length = length;
    req.timeoutSeconds = timeoutSeconds;
    requests_.push_back(req);
    if (onRequest_) onRequest_(req);
    const uint8_t op = req.opcode();
    if (op == 0xBE && delay_.count() > 0) std::this_thread::sleep_for(delay_);

    for (SimulatedFailure& f : failures_) {
        if (f.opcode != op || f.times == 0) continue;
        if (op == 0xBE && (req.lba() < f.firstLba || req.lba() > f.lastLba)) continue;
        if (f.times > 0) --f.times;
        if (!f.delivered) return ScsiOutcome{};
        ScsiOutcome out = checkCondition(f.senseKey, f.asc, f.ascq);
        out.scsiStatus = f.scsiStatus;
        return out;
    }

    ScsiOutcome out;
    out.delivered = true;
    switch (op) {
    case 0x12: {  // INQUIRY
        uint8_t inquiry[36] = {};
        inquiry[0] = kDeviceTypeCdRom;
        inquiry[1] = 0x80;  // removable
        inquiry[2] = 0x05;
        inquiry[4] = 31;
        std::memcpy(inquiry + 8, "SIMUL   ", 8);
        std::string product = product_;
        product.resize(16, ' ');
        std::memcpy(inquiry + 16, product.data(), 16);
        std::memcpy(inquiry + 32, "1.00", 4);
        const uint32_t n = std::min<uint32_t>({length, cdbLength >= 5 ? cdb[4] : 0u, 36u});
        std::memcpy(data, inquiry, n);
        out.transferred = n;
        return out;
    }
    case 0x43: {  // READ TOC
        if (!hasDisc_) return checkCondition(2, 0x3A, 0x00);
        const std::vector<uint8_t> toc = tocBytes();
        const uint32_t allocation = cdbLength >= 9 ? (uint32_t{cdb[7]} << 8) | cdb[8] : 0;
        const uint32_t n = std::min<uint32_t>({length, allocation, static_cast<uint32_t>(toc.size())});
        if (n > 0) std::memcpy(data, toc.data(), n);
        out.transferred = n;
        return out;
    }
    case 0xBE: {  // READ CD
        if (!hasDisc_) return checkCondition(2, 0x3A, 0x00);
        if (cdbLength < 12 || cdb[9] != 0x10) return checkCondition(5, 0x24, 0x00);
        const uint32_t lba = req.lba();
        const uint32_t blocks = (uint32_t{cdb[6]} << 16) | (uint32_t{cdb[7]} << 8) | cdb[8];
        const uint32_t leadOut = trackStarts_.empty() ? 0 : trackStarts_.back();
        if (uint64_t{lba} + blocks > uint64_t{leadOut} + kReadableBeyondLeadOut) return checkCondition(5, 0x21, 0x00);
        if (uint64_t{blocks} * 2352 > length) return checkCondition(5, 0x24, 0x00);
        uint32_t n = blocks * 2352;
        for (const SimulatedShortTransfer& s : shortTransfers_)
            if (s.lba == lba) n = std::min(n, s.bytes);
        uint8_t sector[2352];
        for (uint32_t b = 0; b < blocks && b * 2352 < n; ++b) {
            sectorAudio(lba + b, sector);
            std::memcpy(data + b * 2352, sector, std::min<uint32_t>(2352, n - b * 2352));
        }
        out.transferred = n;
        return out;
    }
    default:
        return checkCondition(5, 0x20, 0x00);
    }
}

namespace {

class SimulatedDevice : public ScsiDevice {
public:
    explicit SimulatedDevice(std::shared_ptr<SimulatedDrive> d) : drive_(std::move(d)) {}
    ScsiOutcome execute(const uint8_t* cdb, uint8_t cdbLength, uint8_t* data, uint32_t length,
                        uint32_t timeoutSeconds) override {
        return drive_->execute(cdb, cdbLength, data, length, timeoutSeconds);
    }

private:
    std::shared_ptr<SimulatedDrive> drive_;
};

}  // namespace

class SimulatedGenericLayer : public GenericScsiLayer {
public:
    explicit SimulatedGenericLayer(SimulatedScsiSystem& sys) : sys_(sys) {}

    uint32_t supportInfo() override {
        if (sys_.haveSupportInfo_) return sys_.supportInfo_;
        if (sys_.generic_.empty()) return uint32_t{kGenericNoAdapters} << 8;
        int highest = 0;
        for (const auto& g : sys_.generic_) highest = std::max<int>(highest, g.hostAdapter);
        return (uint32_t{kGenericCompleted} << 8) | static_cast<uint32_t>(highest + 1);
    }
    uint8_t getDeviceType(uint8_t ha, uint8_t target, uint8_t lun, uint8_t& type) override {
        const auto* g = find(ha, target, lun);
        if (!g) return kGenericError;
        type = g->type;
        return kGenericCompleted;
    }
    ScsiOutcome execute(uint8_t ha, uint8_t target, uint8_t lun, const uint8_t* cdb, uint8_t cdbLength,
                        uint8_t* data, uint32_t length, uint32_t timeoutSeconds) override {
        const auto* g = find(ha, target, lun);
        if (!g) return ScsiOutcome{};
        return g->drive->execute(cdb, cdbLength, data, length, timeoutSeconds);
    }

private:
    const SimulatedScsiSystem::GenericEntry* find(uint8_t ha, uint8_t target, uint8_t lun) const {
        if (lun != 0) return nullptr;
        for (const auto& g : sys_.generic_)
            if (g.hostAdapter == ha && g.target == target) return &g;
        return nullptr;
    }
    SimulatedScsiSystem& sys_;
};

std::shared_ptr<SimulatedDrive> SimulatedScsiSystem::addBlockDrive(const std::string& path, bool openable) {
    auto d = std::make_shared<SimulatedDrive>();
    block_.push_back(BlockEntry{path, openable, d});
    return d;
}

std::shared_ptr<SimulatedDrive> SimulatedScsiSystem::addGenericDevice(uint8_t hostAdapter, uint8_t target,
                                                                      uint8_t deviceType) {
    auto d = std::make_shared<SimulatedDrive>();
    generic_.push_back(GenericEntry{hostAdapter, target, deviceType, d});
    return d;
}

std::vector<std::string> SimulatedScsiSystem::cdBlockDevices() {
    std::vector<std::string> paths;
    for (const BlockEntry& b : block_) paths.push_back(b.path);
    return paths;
}

std::unique_ptr<ScsiDevice> SimulatedScsiSystem::openDevice(const std::string& path) {
    for (const BlockEntry& b : block_) {
        if (b.path != path) continue;
        if (!b.openable) return nullptr;
        ++openCount_;
        return std::make_unique<SimulatedDevice>(b.drive);
    }
    return nullptr;
}

std::unique_ptr<GenericScsiLayer> SimulatedScsiSystem::loadGenericLayer() {
    if (!genericPresent_) return nullptr;
    ++layerLoads_;
    return std::make_unique<SimulatedGenericLayer>(*this);
}

}  // namespace notavox
