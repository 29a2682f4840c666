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

// With a time limit (seconds), a tool that waits for ever, on a pipe for
// example, is ended then and the test fails instead of hanging.
// `tool` names another copy of the converter (one with its own model beside it).
inline ToolRun runConvertTool(const std::string& args, int timeLimit = 0, const std::string& tool = kConvertTool) {
    ToolRun r;
    const std::string limit = timeLimit > 0 ? "timeout " + std::to_string(timeLimit) + " " : "";
    const std::string cmd = limit + "'" + tool + "' " + args + " 2>&1";
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
