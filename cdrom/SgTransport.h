// The Linux SCSI transport: SG_IO on the CD block devices (/dev/srN) and on
// the generic SCSI devices (/dev/sgN). This is what the program uses.
#pragma once

#include <string>

#include "cdrom/ScsiTransport.h"

namespace notavox {

class SgTransport : public ScsiTransport {
public:
    // `devFolder` holds the device nodes; `sysFolder` is where the kernel
    // tells whether the generic SCSI driver is there. Both are parameters so
    // that the search can be pointed elsewhere.
    explicit SgTransport(std::string devFolder = "/dev", std::string sysFolder = "/sys");

    std::vector<std::string> cdBlockDevices() override;
    std::unique_ptr<ScsiDevice> openDevice(const std::string& path) override;
    std::unique_ptr<GenericScsiLayer> loadGenericLayer() override;

private:
    std::string devFolder_;
    std::string sysFolder_;
};

// The device nodes in `folder` named `prefix` followed by decimal digits,
// ordered by their number (sr2 before sr10). Other names are skipped.
std::vector<std::string> numberedDeviceNodes(const std::string& folder, const std::string& prefix);

}  // namespace notavox
