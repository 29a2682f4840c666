// The program's output picks the sound server when it answers and PortAudio
// otherwise, and looks again at every open.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sound/SystemSound.h"
#include "sound/ThreadedSound.h"

namespace notavox {
namespace {

struct Log {
    std::vector<std::string> calls;
};

class FakeOutput final : public SoundOutput {
public:
    FakeOutput(std::string name, Log& log, bool& opens) : name_(std::move(name)), log_(log), opens_(opens) {}
    bool open() override {
        log_.calls.push_back(name_ + " open");
        return opens_;
    }
    bool start() override {
        log_.calls.push_back(name_ + " start");
        return true;
    }
    SoundWrite write(const int16_t*, const Progress& progressed) override {
        log_.calls.push_back(name_ + " write");
        progressed();
        return SoundWrite::written;
    }
    void drain(const Progress&) override { log_.calls.push_back(name_ + " drain"); }
    void stop() override { log_.calls.push_back(name_ + " stop"); }
    void close() override { log_.calls.push_back(name_ + " close"); }

private:
    std::string name_;
    Log& log_;
    bool& opens_;
};

TEST(ProgramsSoundOutput, TakesTheServerWhenItAnswersOtherwisePortAudioAndLooksAgainAfterClose) {
    Log log;
    bool serverAnswers = false;
    bool portAudioOpens = true;
    ThreadedSound device(MakeFirstOpenOutput(std::make_unique<FakeOutput>("server", log, serverAnswers),
                                             std::make_unique<FakeOutput>("portaudio", log, portAudioOpens)));
    const std::vector<int16_t> block(kBlockSamples, 0);

    ASSERT_TRUE(device.open());
    EXPECT_TRUE(device.start());
    EXPECT_EQ(device.write(block.data()), SoundWrite::written);
    device.close();
    EXPECT_EQ(log.calls, (std::vector<std::string>{"server open", "portaudio open", "portaudio start",
                                                   "portaudio write", "portaudio close"}));

    // The server has come up since: the next open takes it.
    log.calls.clear();
    serverAnswers = true;
    ASSERT_TRUE(device.open());
    EXPECT_TRUE(device.start());
    device.stop();
    device.close();
    EXPECT_EQ(log.calls,
              (std::vector<std::string>{"server open", "server start", "server stop", "server close"}));

    // Neither opens: the device says so and takes nothing.
    log.calls.clear();
    serverAnswers = portAudioOpens = false;
    EXPECT_FALSE(device.open());
    EXPECT_FALSE(device.start());
    EXPECT_EQ(device.write(block.data()), SoundWrite::failed);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"server open", "portaudio open"}));
}

}  // namespace
}  // namespace notavox
