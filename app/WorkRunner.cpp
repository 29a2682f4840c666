#include "app/WorkRunner.h"

#include <QEventLoop>
#include <QTimer>
#include <exception>
#include <thread>

#include "audio/Parallel.h"

namespace notavox {

namespace {

// The host the work sees. Progress is kept for the window's thread to pick
// up; on the window's own thread (no worker could be started) it is shown
// at once.
class WorkerHost : public OperationHost {
public:
    WorkerHost(std::atomic<bool>& cancel, OperationHost* direct) : cancel_(cancel), direct_(direct) {}
    void SetProStatus(int32_t p) override {
        if (p < 0 || p > 100) return;
        percent.store(p);
        if (direct_) direct_->SetProStatus(p);
    }
    bool stopRequested() const override { return cancel_.load(); }
    // Only the runner clears the flag: a core step that clears it at its
    // start must not undo a STOP that came before.
    void setStopRequested(bool value) override {
        if (value) cancel_.store(true);
    }
    std::atomic<int32_t> percent{0};

private:
    std::atomic<bool>& cancel_;
    OperationHost* direct_;
};

}  // namespace

bool TWorkRunner::run(const Work& work) {
    cancel_.store(false);
    running_ = true;
    struct Reset {
        TWorkRunner& r;
        ~Reset() { r.running_ = false; }
    } reset{*this};

    std::exception_ptr failure;
    std::atomic<bool> done{false};
    WorkerHost host(cancel_, nullptr);
    std::thread worker;
    const bool started = StartThread(worker, [&] {
        try {
            work(host, cancel_);
        } catch (...) {
            failure = std::current_exception();
        }
        done.store(true);
    });

    if (started) {
        QEventLoop loop;
        QTimer timer;
        int32_t shown = -1;
        QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
            const int32_t p = host.percent.load();
            if (p != shown) {
                shown = p;
                display_.SetProStatus(p);
            }
            if (done.load()) loop.quit();
        });
        timer.start(kPollMs);
        if (!done.load()) loop.exec();
        timer.stop();
        worker.join();
    } else {
        WorkerHost direct(cancel_, &display_);
        try {
            work(direct, cancel_);
        } catch (...) {
            failure = std::current_exception();
        }
    }
    display_.SetProStatus(0);
    if (failure) std::rethrow_exception(failure);
    return !cancel_.load();
}

}  // namespace notavox
