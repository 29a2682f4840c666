// What a long operation of the core needs from the window that runs it: the
// progress display, a turn of the message loop, and the stop flag. The core
// never sees a widget; tests pass a host of their own.
#pragma once

#include <cstdint>

namespace notavox {

class OperationHost {
public:
    virtual ~OperationHost() = default;
    // Progress in percent, 0..100; other values are ignored.
    virtual void SetProStatus(int32_t /*percent*/) {}
    // Lets other handlers run (the window stays usable; STOP can be pressed).
    virtual void ProcessMessages() {}
    virtual bool stopRequested() const { return false; }
    virtual void setStopRequested(bool /*value*/) {}
};

}  // namespace notavox
