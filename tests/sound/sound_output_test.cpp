// The program's output picks the sound server when it answers and PortAudio
// otherwise, and looks again at every open.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <algorithm>
#include <memory>
#include <thread>
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
        for (int i = 0; i < slowWriteSteps; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            heard += 441;
            progressed();
        }
        return SoundWrite::written;
    }
    void drain(const Progress&) override { log_.calls.push_back(name_ + " drain"); }
    int64_t heardFrames() const override { return heard; }
    void stop() override { log_.calls.push_back(name_ + " stop"); }
    void close() override { log_.calls.push_back(name_ + " close"); }

    std::atomic<int64_t> heard{-1};
    int slowWriteSteps = 0;  // a write that takes this many 10 ms steps

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

// While a write waits for the sound system, the caller is called back every
// few milliseconds and may ask for the played position the output learnt.
TEST(ThreadedSoundOutput, CallsTheWaitingCallerBackWithTheHeardPosition) {
    Log log;
    bool opens = true;
    auto output = std::make_unique<FakeOutput>("server", log, opens);
    FakeOutput& out = *output;
    ThreadedSound device(std::move(output));
    EXPECT_EQ(device.heardFrames(), -1);  // not open
    ASSERT_TRUE(device.open());
    ASSERT_TRUE(device.start());
    out.heard = 0;
    out.slowWriteSteps = 20;
    const std::vector<int16_t> block(kBlockSamples, 0);
    std::vector<int64_t> seen;
    EXPECT_EQ(device.write(block.data(), [&] { seen.push_back(device.heardFrames()); }), SoundWrite::written);
    // 200 ms of waiting, a call about every 20 ms.
    EXPECT_GE(seen.size(), 4u);
    EXPECT_LE(seen.size(), 15u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GT(seen.back(), seen.front());
    EXPECT_EQ(device.heardFrames(), 20 * 441);
    device.close();
}

}  // namespace
}  // namespace notavox
