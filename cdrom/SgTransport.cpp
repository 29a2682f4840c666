#include "cdrom/SgTransport.h"

#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace notavox {

namespace {

// Opens a device node for reading and writing, or for reading alone where
// writing is refused. O_NONBLOCK lets a drive without a disc still answer.
int openNode(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return fd;
}

ScsiOutcome sgExecute(int fd, const uint8_t* cdb, uint8_t cdbLength, uint8_t* data, uint32_t length,
                      uint32_t timeoutSeconds) {
    ScsiOutcome out;
    if (fd < 0 || length > kMaxScsiTransfer) return out;
    uint8_t cdbCopy[16] = {};
    std::memcpy(cdbCopy, cdb, std::min<size_t>(cdbLength, sizeof cdbCopy));

    sg_io_hdr_t h;
    std::memset(&h, 0, sizeof h);
    h.interface_id = 'S';
    h.dxfer_direction = length ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    h.cmd_len = std::min<uint8_t>(cdbLength, 16);
    h.mx_sb_len = kSenseLength;
    h.dxfer_len = length;
    h.dxferp = data;
    h.cmdp = cdbCopy;
    h.sbp = out.sense;
    h.timeout = timeoutSeconds * 1000u;

    int rc;
    do {
        rc = ::ioctl(fd, SG_IO, &h);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return out;

    // The driver status carries "sense data returned" (0x08) in its low
    // nibble for an ordinary check condition; every other code is a failure
    // of the driver itself, like a host status other than 0.
    const unsigned driverCode = h.driver_status & 0x0F;
    out.delivered = h.host_status == 0 && (driverCode == 0 || driverCode == 0x08);
    out.scsiStatus = h.status;
    const int resid = std::clamp(h.resid, 0, static_cast<int>(length));
    out.transferred = length - static_cast<uint32_t>(resid);
    return out;
}

class SgDevice : public ScsiDevice {
public:
    explicit SgDevice(int fd) : fd_(fd) {}
    ~SgDevice() override { ::close(fd_); }
    SgDevice(const SgDevice&) = delete;
    SgDevice& operator=(const SgDevice&) = delete;

    ScsiOutcome execute(const uint8_t* cdb, uint8_t cdbLength, uint8_t* data, uint32_t length,
                        uint32_t timeoutSeconds) override {
        return sgExecute(fd_, cdb, cdbLength, data, length, timeoutSeconds);
    }

private:
    int fd_;
};

struct GenericNode {
    int fd = -1;
    int host = 0;
    int target = 0;
    int lun = 0;
    int type = 0;
};

class SgGenericLayer : public GenericScsiLayer {
public:
    SgGenericLayer(std::vector<GenericNode> nodes, bool anyNodeExists)
        : nodes_(std::move(nodes)), anyNodeExists_(anyNodeExists) {}
    ~SgGenericLayer() override {
        for (const GenericNode& n : nodes_) ::close(n.fd);
    }
    SgGenericLayer(const SgGenericLayer&) = delete;
    SgGenericLayer& operator=(const SgGenericLayer&) = delete;

    uint32_t supportInfo() override {
        if (nodes_.empty()) return (anyNodeExists_ ? kGenericInitFailed : kGenericNoAdapters) << 8;
        // The adapters are numbered as the kernel numbers its SCSI hosts, so
        // the count reaches up to the highest host number in use.
        int highest = 0;
        for (const GenericNode& n : nodes_) highest = std::max(highest, n.host);
        const uint32_t count = static_cast<uint32_t>(std::min(highest + 1, 255));
        return (uint32_t{kGenericCompleted} << 8) | count;
    }

    uint8_t getDeviceType(uint8_t hostAdapter, uint8_t target, uint8_t lun, uint8_t& deviceType) override {
        const GenericNode* n = find(hostAdapter, target, lun);
        if (!n) return kGenericError;
        deviceType = static_cast<uint8_t>(n->type);
        return kGenericCompleted;
    }

    ScsiOutcome execute(uint8_t hostAdapter, uint8_t target, uint8_t lun, const uint8_t* cdb, uint8_t cdbLength,
                        uint8_t* data, uint32_t length, uint32_t timeoutSeconds) override {
        const GenericNode* n = find(hostAdapter, target, lun);
        if (!n) return ScsiOutcome{};
        return sgExecute(n->fd, cdb, cdbLength, data, length, timeoutSeconds);
    }

private:
    const GenericNode* find(int host, int target, int lun) const {
        for (const GenericNode& n : nodes_)
            if (n.host == host && n.target == target && n.lun == lun) return &n;
        return nullptr;
    }

    std::vector<GenericNode> nodes_;
    bool anyNodeExists_;
};

bool isFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::vector<std::string> numberedDeviceNodes(const std::string& folder, const std::string& prefix) {
    std::vector<std::pair<unsigned long, std::string>> found;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return {};
    while (dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        found.emplace_back(std::stoul(digits), folder + "/" + name);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& f : found) paths.push_back(std::move(f.second));
    return paths;
}

SgTransport::SgTransport(std::string devFolder, std::string sysFolder)
    : devFolder_(std::move(devFolder)), sysFolder_(std::move(sysFolder)) {}

std::vector<std::string> SgTransport::cdBlockDevices() {
    std::vector<std::string> result;
    for (std::string& path : numberedDeviceNodes(devFolder_, "sr")) {
        struct stat st;
        if (::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) result.push_back(std::move(path));
    }
    return result;
}

std::unique_ptr<ScsiDevice> SgTransport::openDevice(const std::string& path) {
    const int fd = openNode(path);
    if (fd < 0) return nullptr;
    return std::make_unique<SgDevice>(fd);
}

std::unique_ptr<GenericScsiLayer> SgTransport::loadGenericLayer() {
    // The layer is there when the kernel's generic SCSI driver is.
    if (!isFolder(sysFolder_ + "/class/scsi_generic") && !isFolder(sysFolder_ + "/module/sg")) return nullptr;

    std::vector<GenericNode> nodes;
    bool anyNodeExists = false;
    for (const std::string& path : numberedDeviceNodes(devFolder_, "sg")) {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
        anyNodeExists = true;
        const int fd = openNode(path);
        if (fd < 0) continue;
        int version = 0;
        sg_scsi_id id;
        std::memset(&id, 0, sizeof id);
        if (::ioctl(fd, SG_GET_VERSION_NUM, &version) < 0 || version < 30000 ||
            ::ioctl(fd, SG_GET_SCSI_ID, &id) < 0 || id.host_no < 0 || id.host_no > 254) {
            ::close(fd);
            continue;
        }
        nodes.push_back(GenericNode{fd, id.host_no, id.scsi_id, id.lun, id.scsi_type});
    }
    return std::make_unique<SgGenericLayer>(std::move(nodes), anyNodeExists);
}

}  // namespace notavox
