// Helpers of the codec tests: files, a scratch folder and a host that records
// the progress and presses STOP on request.
#pragma once

#include <gtest/gtest.h>

#include "audio/OperationHost.h"
#include "audio/WavFile.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace notavox::testing {

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

}  // namespace notavox::testing
