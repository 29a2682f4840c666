// Helpers of the codec tests: a scratch folder, external tools, WAV bodies.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/OperationHost.h"
#include "audio/WavFile.h"

namespace notavox::test {

inline bool haveTool(const char* name) {
    std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

inline bool run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

class ScratchDir {
public:
    ScratchDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "notavox-codecs-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A host that records the progress calls and can press STOP after a number
// of message pumps.
class RecordingHost : public OperationHost {
public:
    void SetProStatus(int32_t percent) override { progress.push_back(percent); }
    void ProcessMessages() override {
        ++pumps;
        if (stopAfterPumps > 0 && pumps >= stopAfterPumps) stop = true;
    }
    bool stopRequested() const override { return stop; }
    void setStopRequested(bool value) override { stop = value; }

    std::vector<int32_t> progress;
    int pumps = 0;
    int stopAfterPumps = 0;
    bool stop = false;
};

}  // namespace notavox::test
