// Long work on a worker thread while the window stays usable: the handler
// that starts the work waits for it in a local event loop, so that the window
// repaints, the progress display follows the worker and STOP or Escape can
// ask it to end. The accurate analysis, the MP3 export and the opening of a
// file all run through here.
#pragma once

#include <atomic>
#include <functional>

#include "audio/OperationHost.h"

namespace notavox {

class TWorkRunner {
public:
    // The work gets a host of its own: its progress goes to `display` (the
    // window's progress bar) on the window's thread, its stopRequested() is
    // the cancel flag, and ProcessMessages() does nothing.
    using Work = std::function<void(OperationHost& host, const std::atomic<bool>& cancel)>;

    explicit TWorkRunner(OperationHost& display) : display_(display) {}

    // Runs `work` to its end on a worker thread (on the calling thread when
    // no thread can be started) and returns false when it was cancelled.
    // An exception of the work is thrown again here. The progress display
    // is back at 0 when this returns.
    bool run(const Work& work);

    bool running() const { return running_; }
    // Asks the running work to end; the work sees it at its next check.
    void cancel() { cancel_.store(true); }
    bool cancelRequested() const { return cancel_.load(); }

    // How often the window looks at the worker's progress, in ms.
    static constexpr int kPollMs = 40;

private:
    OperationHost& display_;
    std::atomic<bool> cancel_{false};
    bool running_ = false;
};

}  // namespace notavox
