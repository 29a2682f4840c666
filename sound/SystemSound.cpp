#include "sound/SystemSound.h"

#include <atomic>

#include "sound/PortAudioSound.h"
#include "sound/PulseSound.h"

namespace notavox {

namespace {

class FirstOpenOutput final : public SoundOutput {
public:
    FirstOpenOutput(std::unique_ptr<SoundOutput> first, std::unique_ptr<SoundOutput> second)
        : first_(std::move(first)), second_(std::move(second)) {}

    bool open() override {
        if (active_) return true;
        if (first_->open())
            active_ = first_.get();
        else if (second_->open())
            active_ = second_.get();
        return active_ != nullptr;
    }
    bool start() override { return active_ && active_.load()->start(); }
    SoundWrite write(const int16_t* block, const Progress& progressed) override {
        return active_ ? active_.load()->write(block, progressed) : SoundWrite::failed;
    }
    void drain(const Progress& progressed) override {
        if (active_) active_.load()->drain(progressed);
    }
    int64_t heardFrames() const override {
        const SoundOutput* active = active_;
        return active ? active->heardFrames() : -1;
    }
    void stop() override {
        if (active_) active_.load()->stop();
    }
    void close() override {
        if (active_) active_.load()->close();
        active_ = nullptr;
    }

private:
    std::unique_ptr<SoundOutput> first_;
    std::unique_ptr<SoundOutput> second_;
    // Read by heardFrames() from the caller's thread.
    std::atomic<SoundOutput*> active_{nullptr};
};

}  // namespace

std::unique_ptr<SoundOutput> MakeFirstOpenOutput(std::unique_ptr<SoundOutput> first,
                                                 std::unique_ptr<SoundOutput> second) {
    return std::make_unique<FirstOpenOutput>(std::move(first), std::move(second));
}

SystemSound::SystemSound() : ThreadedSound(MakeFirstOpenOutput(MakePulseOutput(), MakePortAudioOutput())) {}

}  // namespace notavox
