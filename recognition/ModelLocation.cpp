#include "recognition/ModelLocation.h"

#include <unistd.h>

#include <climits>

namespace notavox::recognition {

namespace {

std::string executableFolder() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::string();
    std::string path(buf, size_t(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::vector<std::string> ModelSearchPaths() {
    std::vector<std::string> paths;
    const std::string dir = executableFolder();
    if (!dir.empty()) {
        paths.push_back(dir + "/" + kModelFileName);
        paths.push_back(dir + "/../share/notavox/" + kModelFileName);
    }
#ifdef NOTAVOX_INSTALL_DATADIR
    paths.push_back(std::string(NOTAVOX_INSTALL_DATADIR) + "/notavox/" + kModelFileName);
#endif
    return paths;
}

std::string FindModelFile() {
    for (const std::string& p : ModelSearchPaths())
        if (::access(p.c_str(), R_OK) == 0) return p;
    return std::string();
}

}  // namespace notavox::recognition
