// Runs notavox-convert as a user does and collects what it printed.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace notavox::testing {

inline const std::string kConvertTool = std::string(NOTAVOX_BINARY_DIR) + "/notavox-convert";

struct ToolRun {
    int status = -1;
    std::string output;  // stdout and stderr together
};

inline ToolRun runConvertTool(const std::string& args) {
    ToolRun r;
    const std::string cmd = "'" + kConvertTool + "' " + args + " 2>&1";
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
        const int st = pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    return r;
}

}  // namespace notavox::testing
