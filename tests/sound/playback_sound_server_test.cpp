// Playback end to end through the real sound outputs (straight to the sound
// server, through PortAudio, and the program's choice between them) and a
// real sound server: the test starts a private PulseAudio daemon whose only
// sink is a null sink, plays a recording with a known pattern, records the
// sink's monitor with parec and looks for the pattern, bit for bit, in the
// capture.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "support/Files.h"
#include "support/NoThreads.h"
#include "support/TempDir.h"
#include "sound/PlaybackLoop.h"
#include "sound/PortAudioSound.h"
#include "sound/PulseSound.h"
#include "sound/SystemSound.h"

extern char** environ;

namespace notavox {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* const kSink = "notavox_test";

bool onPath(const std::string& tool) { return testing::haveTool(tool.c_str()); }

// Starts a program with its output in `stdoutFile` and its errors dropped;
// -1 if it could not start.
pid_t spawnProgram(const std::vector<std::string>& args, const std::string& stdoutFile) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// Runs a program to its end and returns its exit status (-1 if it could not run).
int runProgram(const std::vector<std::string>& args, const std::string& stdoutFile = "/dev/null") {
    const pid_t pid = spawnProgram(args, stdoutFile);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using notavox::testing::readFile;

// A daemonised process is not our child; it is gone when /proc no longer
// lists it or lists it as a zombie.
bool processGone(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty()) return true;
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

// The private sound server, with a watchdog that kills it and the recorder
// and fails the test if the whole run takes longer than its limit.
class SoundServer {
public:
    explicit SoundServer(std::chrono::seconds limit) : watchdog_([this, limit] { watch(limit); }) {}
    ~SoundServer() {
        stopRecorder();
        stopDaemon();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        watchdog_.join();
    }

    bool start() {
        if (dir_.empty()) return false;
        // Everything of the daemon and its clients lives in the private folder.
        setenv("HOME", dir_.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        setenv("PULSE_RUNTIME_PATH", (dir_ / "pulse").c_str(), 1);
        setenv("PULSE_SERVER", ("unix:" + (dir_ / "pulse" / "native").string()).c_str(), 1);
        unsetenv("PULSE_SINK");
        unsetenv("PULSE_SOURCE");

        const std::string sink = std::string("module-null-sink sink_name=") + kSink + " rate=44100 channels=2";
        if (runProgram({"timeout", "20", "pulseaudio", "-D", "--exit-idle-time=-1", "-n", "--load=" + sink,
                        "--load=module-native-protocol-unix", "--use-pid-file=yes"}) != 0)
            return false;
        const std::string pidText = readFile(dir_ / "pulse" / "pid");
        daemon_ = static_cast<pid_t>(std::atoi(pidText.c_str()));
        if (daemon_ <= 0) return false;
        for (int i = 0; i < 50; ++i) {
            if (runProgram({"timeout", "5", "pactl", "info"}) == 0)
                return runProgram({"timeout", "5", "pactl", "set-default-sink", kSink}) == 0;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    // Stops the daemon and starts a new one, as when the user restarts the
    // sound server while the program runs.
    bool restart() {
        stopDaemon();
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
        return start();
    }

    // `lowLatency`: the recorder gets what the sink played within 10 ms;
    // otherwise it asks for the server's default, as most recorders do.
    bool startRecorder(const fs::path& out, bool lowLatency = true) {
        std::vector<std::string> args{"parec", std::string("--device=") + kSink + ".monitor", "--format=s16le",
                                      "--rate=44100", "--channels=2", "--raw"};
        if (lowLatency) args.insert(args.begin() + 1, "--latency-msec=10");
        recorder_ = spawnProgram(args, out.string());
        if (recorder_ <= 0) return false;
        // Wait until the recorder's stream is connected to the monitor.
        const fs::path list = dir_ / "outputs.txt";
        for (int i = 0; i < 50; ++i) {
            runProgram({"timeout", "5", "pactl", "list", "short", "source-outputs"}, list.string());
            if (!readFile(list).empty()) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    void stopRecorder() {
        if (recorder_ <= 0) return;
        kill(recorder_, SIGINT);
        int status = 0;
        waitpid(recorder_, &status, 0);
        recorder_ = -1;
    }

    void stopDaemon() {
        if (daemon_ <= 0) return;
        kill(daemon_, SIGCONT);
        kill(daemon_, SIGTERM);
        for (int i = 0; i < 50 && !processGone(daemon_); ++i) std::this_thread::sleep_for(100ms);
        if (!processGone(daemon_)) kill(daemon_, SIGKILL);
        daemon_ = -1;
    }

    // Freezes and thaws the daemon: a frozen server takes no more audio.
    void freeze(bool frozen) {
        if (daemon_ > 0) kill(daemon_, frozen ? SIGSTOP : SIGCONT);
    }

    const fs::path& dir() const { return dir_; }

private:
    void watch(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (wake_.wait_for(lock, limit, [this] { return done_; })) return;
        std::fprintf(stderr, "sound server test ran past its limit of %lld s\n",
                     static_cast<long long>(limit.count()));
        if (recorder_ > 0) kill(recorder_, SIGKILL);
        if (daemon_ > 0) kill(daemon_, SIGKILL);
        std::_Exit(1);
    }

    testing::TempDir tmp_;
    fs::path dir_ = tmp_.path();
    std::atomic<pid_t> daemon_{-1};
    std::atomic<pid_t> recorder_{-1};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread watchdog_;
};

enum class Output { portAudio, pulse, system };

std::unique_ptr<ThreadedSound> makeDevice(Output kind) {
    switch (kind) {
    case Output::portAudio:
        return std::make_unique<PortAudioSound>();
    case Output::pulse:
        return std::make_unique<PulseSound>();
    case Output::system:
        break;
    }
    return std::make_unique<SystemSound>();
}

std::string outputName(Output kind) {
    switch (kind) {
    case Output::portAudio:
        return "PortAudio";
    case Output::pulse:
        return "SoundServer";
    case Output::system:
        break;
    }
    return "ProgramsChoice";
}

std::string paramName(const ::testing::TestParamInfo<Output>& info) { return outputName(info.param); }

void PrintTo(Output kind, std::ostream* out) { *out << outputName(kind); }

struct QuietHost : OperationHost {
    bool stop = false;
    int pumps = 0;
    std::function<void(int)> onPump;
    void ProcessMessages() override {
        if (onPump) onPump(pumps);
        ++pumps;
    }
    bool stopRequested() const override { return stop; }
    void setStopRequested(bool value) override { stop = value; }
};

// The first of the tools that is not installed, or empty.
std::string missingTool(std::initializer_list<const char*> tools) {
    for (const char* tool : tools)
        if (!onPath(tool)) return tool;
    return {};
}

// 44.1 kHz 16-bit stereo of `bytes` bytes, silent.
AudioDocument silence(size_t bytes) {
    AudioDocument doc;
    SampleBlock block = allocateBlock(bytes);
    std::memset(block.get(), 0, bytes);
    doc.replace(std::move(block), static_cast<int32_t>(bytes), 44100, true, true);
    return doc;
}

// Playback of the whole of `doc`, looping when `loop`.
PlaybackCallbacks playWhole(const AudioDocument& doc, bool loop) {
    PlaybackCallbacks cb;
    cb.loopChecked = [loop] { return loop; };
    cb.recording = [&doc]() -> const AudioDocument& { return doc; };
    cb.view = [] { return ViewScroll{100, 0}; };
    cb.drawCursor = [](int64_t) {};
    return cb;
}

// Plays a pattern through a private sound server and finds it bit-exact in
// what the server captured. `noThread`: the device could start no worker
// thread and makes every call on the caller's thread.
void playPatternBitExact(Output kind, bool noThread) {
    if (const std::string tool = missingTool({"pulseaudio", "parec", "pactl", "timeout"}); !tool.empty()) GTEST_SKIP() << tool << " is not installed";

    SoundServer server(60s);
    ASSERT_TRUE(server.start()) << "could not start a private PulseAudio daemon";
    const fs::path capture = server.dir() / "capture.raw";
    ASSERT_TRUE(server.startRecorder(capture));

    // Half a second of silence (the monitor misses the first moments of a
    // stream), then one second of a pseudo-random stereo pattern that ends
    // the recording, so its last block must be heard too.
    const int32_t leadFrames = 22050;
    const int32_t patternFrames = 44100;
    std::vector<int16_t> pattern;
    uint32_t x = 12345;
    for (int32_t i = 0; i < 2 * patternFrames; ++i) {
        x = x * 1103515245u + 12345u;
        int16_t v = static_cast<int16_t>(x >> 16);
        pattern.push_back(v == 0 ? 1 : v);
    }
    AudioDocument doc;
    const size_t bytes = static_cast<size_t>(leadFrames + patternFrames) * 4;
    SampleBlock block = allocateBlock(bytes);
    std::memset(block.get(), 0, static_cast<size_t>(leadFrames) * 4);
    for (size_t i = 0; i < pattern.size(); ++i) {
        const auto v = static_cast<uint16_t>(pattern[i]);
        block[static_cast<size_t>(leadFrames) * 4 + 2 * i] = static_cast<uint8_t>(v & 0xff);
        block[static_cast<size_t>(leadFrames) * 4 + 2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    doc.replace(std::move(block), static_cast<int32_t>(bytes), 44100, true, true);

    std::unique_ptr<testing::NoThreads> limit;
    if (noThread) limit = std::make_unique<testing::NoThreads>();
    const auto device = makeDevice(kind);
    limit.reset();
    ASSERT_TRUE(device->open()) << "found no default output";
    QuietHost host;
    const PlaybackCallbacks cb = playWhole(doc, false);
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(runPlayback(*device, host, cb), PlaybackEnd::finished);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    device->close();
    std::this_thread::sleep_for(300ms);
    server.stopRecorder();

    // Played in real time: 1.5 s of recording after the leading silent block
    // (the server may add a slow start of up to two seconds).
    EXPECT_GT(seconds, 1.5);
    EXPECT_LT(seconds, 10.0);

    const std::string raw = readFile(capture);
    std::vector<int16_t> captured(raw.size() / 2);
    std::memcpy(captured.data(), raw.data(), captured.size() * 2);
    ASSERT_GT(captured.size(), pattern.size()) << "captured only " << captured.size() / 2 << " frames";

    const size_t probe = 128;
    size_t found = captured.size();
    for (size_t i = 0; i + pattern.size() <= captured.size(); i += 2) {
        if (std::memcmp(&captured[i], pattern.data(), probe * 2) == 0) {
            found = i;
            break;
        }
    }
    ASSERT_NE(found, captured.size()) << "the start of the pattern is not in the capture";
    size_t mismatches = 0;
    for (size_t i = 0; i < pattern.size(); ++i)
        if (captured[found + i] != pattern[i]) ++mismatches;
    EXPECT_EQ(mismatches, 0u) << "of " << pattern.size() << " values";
}

class EveryOutput : public ::testing::TestWithParam<Output> {};

INSTANTIATE_TEST_SUITE_P(PlaybackThroughSoundServer, EveryOutput,
                         ::testing::Values(Output::portAudio, Output::pulse, Output::system), paramName);

// What the program's choice only passes on to the output it chose: each of the
// two outputs once.
class EachBackend : public ::testing::TestWithParam<Output> {};

INSTANTIATE_TEST_SUITE_P(PlaybackThroughSoundServer, EachBackend, ::testing::Values(Output::portAudio, Output::pulse),
                         paramName);

TEST_P(EveryOutput, CapturedAudioHoldsThePatternBitExactUpToItsEnd) { playPatternBitExact(GetParam(), false); }

TEST_P(EachBackend, WithoutAWorkerThreadTheCallerPlaysTheSamePattern) { playPatternBitExact(GetParam(), true); }

// `stall` makes the server stop taking audio some three seconds into a
// looping playback; the playback ends like STOP within the limit.
void playbackEndsWhenTheServerStopsTakingAudio(Output kind, const std::function<void(SoundServer&)>& stall,
                                               const std::function<void(SoundServer&)>& resume) {
    SoundServer server(60s);
    ASSERT_TRUE(server.start()) << "could not start a private PulseAudio daemon";

    const AudioDocument doc = silence(44100 * 4);

    const auto device = makeDevice(kind);
    ASSERT_TRUE(device->open()) << "found no default output";
    QuietHost host;
    std::chrono::steady_clock::time_point stalledAt;
    host.onPump = [&](int n) {
        if (n == 12) {
            stall(server);
            stalledAt = std::chrono::steady_clock::now();
        }
    };
    const PlaybackCallbacks cb = playWhole(doc, true);
    EXPECT_EQ(runPlayback(*device, host, cb), PlaybackEnd::deviceFailed);
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - stalledAt).count();
    EXPECT_TRUE(host.stop);
    EXPECT_GE(host.pumps, 13);
    // Two seconds without progress, plus what the buffers still took.
    EXPECT_LT(waited, 5.0);
    resume(server);
    device->close();
}

TEST_P(EachBackend, ServerThatStopsTakingAudioEndsPlaybackLikeStop) {
    if (const std::string tool = missingTool({"pulseaudio", "pactl", "timeout"}); !tool.empty()) GTEST_SKIP() << tool << " is not installed";
    playbackEndsWhenTheServerStopsTakingAudio(
        GetParam(), [](SoundServer& s) { s.freeze(true); }, [](SoundServer& s) { s.freeze(false); });
}

// The server still answers, but its sink takes nothing (suspended).
TEST_P(EachBackend, SinkThatStopsTakingAudioEndsPlaybackLikeStop) {
    if (const std::string tool = missingTool({"pulseaudio", "pactl", "timeout"}); !tool.empty()) GTEST_SKIP() << tool << " is not installed";
    const auto suspend = [](bool on) {
        return [on](SoundServer&) { runProgram({"timeout", "5", "pactl", "suspend-sink", kSink, on ? "1" : "0"}); };
    };
    playbackEndsWhenTheServerStopsTakingAudio(GetParam(), suspend(true), suspend(false));
}

// Runs `work` with the process's stderr going to `log`.
void withStderrIn(const fs::path& log, const std::function<void()>& work) {
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int file = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, STDERR_FILENO);
    close(file);
    work();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
}

// Opening and closing the output says nothing on the terminal: the sound
// systems' chatter about what they did not find is not shown.
TEST_P(EveryOutput, OpeningSaysNothingOnTheTerminal) {
    if (const std::string tool = missingTool({"pulseaudio", "pactl", "timeout"}); !tool.empty()) GTEST_SKIP() << tool << " is not installed";
    SoundServer server(60s);
    ASSERT_TRUE(server.start()) << "could not start a private PulseAudio daemon";
    const fs::path log = server.dir() / "stderr.txt";
    bool opened = false;
    withStderrIn(log, [&] {
        const auto device = makeDevice(GetParam());
        opened = device->open();
        device->close();
    });
    EXPECT_TRUE(opened);
    EXPECT_EQ(readFile(log), "");
}

// PLAY after the sound server was restarted opens the output afresh, and
// the failed steps of the old stream say nothing on the terminal.
TEST_P(EveryOutput, PlayAfterTheServerRestartedReopensTheOutput) {
    if (const std::string tool = missingTool({"pulseaudio", "pactl", "timeout"}); !tool.empty()) GTEST_SKIP() << tool << " is not installed";
    SoundServer server(90s);
    ASSERT_TRUE(server.start()) << "could not start a private PulseAudio daemon";
    const AudioDocument doc = silence(22050 * 4);
    const auto device = makeDevice(GetParam());
    ASSERT_TRUE(device->open()) << "found no default output";
    ASSERT_TRUE(server.restart()) << "could not restart the daemon";
    QuietHost host;
    const fs::path log = server.dir() / "stderr.txt";
    withStderrIn(log, [&] {
        EXPECT_EQ(runPlayback(*device, host, playWhole(doc, false)), PlaybackEnd::finished);
        device->close();
    });
    EXPECT_GE(host.pumps, 2);
    const std::string said = readFile(log);
    // ALSA's own note of a buffer that ran dry while playing is no start-up
    // chatter and comes from deeper than PortAudio.
    if (GetParam() == Output::portAudio)
        EXPECT_EQ(said.find("Expression"), std::string::npos) << said;
    else
        EXPECT_EQ(said, "");
}

// PLAY again after a playback ended, and after one was stopped, plays again.
TEST_P(EveryOutput, PlaysAgainAfterAnEndAndAfterAStop) {
    if (const std::string tool = missingTool({"pulseaudio", "pactl", "timeout"}); !tool.empty()) GTEST_SKIP() << tool << " is not installed";
    SoundServer server(60s);
    ASSERT_TRUE(server.start()) << "could not start a private PulseAudio daemon";
    const AudioDocument doc = silence(22050 * 4);
    const auto device = makeDevice(GetParam());
    ASSERT_TRUE(device->open()) << "found no default output";
    for (int round = 0; round < 2; ++round) {
        QuietHost host;
        EXPECT_EQ(runPlayback(*device, host, playWhole(doc, false)), PlaybackEnd::finished) << "round " << round;
    }
    QuietHost stopping;
    stopping.onPump = [&](int n) { stopping.stop = n == 2; };
    EXPECT_EQ(runPlayback(*device, stopping, playWhole(doc, true)), PlaybackEnd::stopped);
    QuietHost host;
    EXPECT_EQ(runPlayback(*device, host, playWhole(doc, false)), PlaybackEnd::finished);
    device->close();
}

// Listens to a low-latency capture of the sink as it grows and notes when
// the sound became loud and when it went quiet again, by the arrival of
// each 10 ms piece.
class Listener {
public:
    using Clock = std::chrono::steady_clock;
    explicit Listener(const fs::path& capture) : thread_([this, capture] { listen(capture); }) {}
    ~Listener() {
        quit_ = true;
        thread_.join();
    }
    bool listening() const { return listening_; }
    std::optional<Clock::time_point> loudAt() const { return at(loud_); }
    std::optional<Clock::time_point> quietAt() const { return at(quiet_); }

private:
    static std::optional<Clock::time_point> at(const std::atomic<int64_t>& t) {
        const int64_t v = t.load();
        if (v == 0) return std::nullopt;
        return Clock::time_point(Clock::duration(v));
    }
    void listen(const fs::path& capture) {
        constexpr size_t piece = 441 * 4;
        std::FILE* in = nullptr;
        std::vector<char> buffer(piece);
        size_t have = 0;
        while (!quit_) {
            if (!in) in = std::fopen(capture.c_str(), "rb");
            const size_t got = in ? std::fread(buffer.data() + have, 1, piece - have, in) : 0;
            have += got;
            if (have < piece) {
                if (in) std::clearerr(in);
                std::this_thread::sleep_for(1ms);
                continue;
            }
            have = 0;
            listening_ = true;
            bool loud = false;
            for (size_t i = 0; i + 1 < piece; i += 2) {
                const auto v = static_cast<int16_t>(static_cast<uint8_t>(buffer[i]) |
                                                    (static_cast<uint8_t>(buffer[i + 1]) << 8));
                if (v > 2000 || v < -2000) loud = true;
            }
            const int64_t now = Clock::now().time_since_epoch().count();
            if (loud && loud_ == 0) loud_ = now;
            if (!loud && loud_ != 0 && quiet_ == 0) quiet_ = now;
        }
        if (in) std::fclose(in);
    }

    std::atomic<bool> quit_{false};
    std::atomic<bool> listening_{false};
    std::atomic<int64_t> loud_{0};
    std::atomic<int64_t> quiet_{0};
    std::thread thread_;
};

// The cursor against what the sink played: a selection from 0.5 s to 1.6 s
// of a recording that is silent up to 1 s and loud from there on. The
// cursor must reach the 1 s column when the sound becomes loud, reach the
// selection's end when the sound ends, and never pass it.
TEST_P(EveryOutput, CursorFollowsWhatTheSinkPlays) {
    if (const std::string tool = missingTool({"pulseaudio", "parec", "pactl", "timeout"}); !tool.empty()) GTEST_SKIP() << tool << " is not installed";
    using Clock = std::chrono::steady_clock;
    SoundServer server(60s);
    ASSERT_TRUE(server.start()) << "could not start a private PulseAudio daemon";
    const auto device = makeDevice(GetParam());
    ASSERT_TRUE(device->open()) << "found no default output";
    const fs::path capture = server.dir() / "capture.raw";
    ASSERT_TRUE(server.startRecorder(capture));
    Listener listener(capture);
    for (int i = 0; i < 500 && !listener.listening(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(listener.listening());

    AudioDocument doc;
    const size_t frames = 2 * 44100;
    SampleBlock block = allocateBlock(frames * 4);
    for (size_t i = 0; i < frames * 2; ++i) {
        const int16_t v = i < 44100 * 2 ? 0 : (i / 100) % 2 ? 8000 : -8000;
        block[2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(v) & 0xff);
        block[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
    }
    doc.replace(std::move(block), static_cast<int32_t>(frames * 4), 44100, true, true);
    doc.selectionStart = 2 * 22050;
    doc.selectionEnd = 2 * 70560;

    // Zoom 1 at position 0: the column is the sample index.
    const int64_t loudColumn = 2 * 44100;
    const int64_t endColumn = 2 * 70560;
    std::optional<Clock::time_point> cursorLoud;
    std::optional<Clock::time_point> cursorEnd;
    int64_t furthest = 0;
    PlaybackCallbacks cb = playWhole(doc, false);
    cb.view = [] { return ViewScroll{1, 0}; };
    cb.drawCursor = [&](int64_t column) {
        const auto now = Clock::now();
        furthest = std::max(furthest, column);
        if (column >= loudColumn && !cursorLoud) cursorLoud = now;
        if (column >= endColumn && !cursorEnd) cursorEnd = now;
    };
    QuietHost host;
    EXPECT_EQ(runPlayback(*device, host, cb), PlaybackEnd::finished);
    for (int i = 0; i < 100 && !listener.quietAt(); ++i) std::this_thread::sleep_for(10ms);
    device->close();

    const auto heardLoud = listener.loudAt();
    const auto heardQuiet = listener.quietAt();
    ASSERT_TRUE(heardLoud && heardQuiet) << "the sound was not captured";
    ASSERT_TRUE(cursorLoud && cursorEnd) << "the cursor did not get there; furthest " << furthest;
    const double atLoud = std::chrono::duration<double>(*cursorLoud - *heardLoud).count();
    const double atEnd = std::chrono::duration<double>(*cursorEnd - *heardQuiet).count();
    std::printf("%s: the cursor reached the loud part %+.3f s and the end %+.3f s after the sound, "
                "furthest %.3f s past the end\n",
                outputName(GetParam()).c_str(), atLoud, atEnd, double(furthest - endColumn) / 2 / 44100);
    // A capture piece is 10 ms, the recorder's latency another 10 ms, the
    // cursor is asked about every 20 ms, and the machine may be busy.
    EXPECT_LT(std::abs(atLoud), 0.1);
    EXPECT_LT(std::abs(atEnd), 0.1);
    EXPECT_EQ(furthest, endColumn);
}

// How long after PLAY the sound reaches a recorder of the sink that asks for
// the server's default latency and plays what it gets in real time from its
// first moment on (as a listener at the sink would hear it). With
// `playedBefore` the device has played something else first.
double secondsUntilHeard(Output kind, bool playedBefore) {
    SoundServer server(60s);
    if (!server.start()) return -1;
    const auto device = makeDevice(kind);
    if (!device->open()) return -4;
    if (playedBefore) {
        QuietHost host;
        const AudioDocument quiet = silence(11025 * 4);
        if (runPlayback(*device, host, playWhole(quiet, false)) != PlaybackEnd::finished) return -5;
    }
    const fs::path capture = server.dir() / "capture.raw";
    if (!server.startRecorder(capture, false)) return -2;

    // The recorder's clock starts with the first captured bytes; a loud
    // 10 ms piece is heard at that clock's time of its position, or when it
    // arrived, whichever is later.
    std::atomic<bool> quit{false};
    std::atomic<bool> listening{false};
    std::atomic<int64_t> heardAt{0};
    std::thread listener([&] {
        constexpr size_t piece = 441 * 4;
        size_t pos = 0;
        std::chrono::steady_clock::time_point first;
        while (!quit && heardAt == 0) {
            const std::string raw = readFile(capture);
            if (raw.size() < pos + piece) {
                std::this_thread::sleep_for(2ms);
                continue;
            }
            if (pos == 0) {
                first = std::chrono::steady_clock::now();
                listening = true;
            }
            for (; pos + piece <= raw.size() && heardAt == 0; pos += piece) {
                std::this_thread::sleep_until(first + std::chrono::microseconds(pos * 1000000 / (44100 * 4)));
                for (size_t i = pos; i + 1 < pos + piece; i += 2) {
                    const auto v = static_cast<int16_t>(static_cast<uint8_t>(raw[i]) |
                                                        (static_cast<uint8_t>(raw[i + 1]) << 8));
                    if (v > 2000 || v < -2000) {
                        heardAt = std::chrono::steady_clock::now().time_since_epoch().count();
                        break;
                    }
                }
            }
        }
    });
    for (int i = 0; i < 500 && !listening; ++i) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(500ms);

    // One second of a loud square wave.
    AudioDocument doc;
    const size_t bytes = 44100 * 4;
    SampleBlock block = allocateBlock(bytes);
    for (size_t i = 0; i < bytes; i += 2) {
        const int16_t v = (i / 400) % 2 ? 8000 : -8000;
        block[i] = static_cast<uint8_t>(static_cast<uint16_t>(v) & 0xff);
        block[i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
    }
    doc.replace(std::move(block), static_cast<int32_t>(bytes), 44100, true, true);
    double delay = -3;
    if (listening) {
        QuietHost host;
        const auto play = std::chrono::steady_clock::now();
        runPlayback(*device, host, playWhole(doc, false));
        device->close();
        for (int i = 0; i < 300 && heardAt == 0; ++i) std::this_thread::sleep_for(10ms);
        if (heardAt != 0)
            delay = std::chrono::duration<double>(
                        std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(heardAt.load())) -
                        play)
                        .count();
    }
    quit = true;
    listener.join();
    return delay;
}

// The design calls for the sound about a quarter of a second after PLAY (the
// leading silent block), plus what the server adds.
// Through the ALSA bridge the server's buffer for the stream is as short as
// PortAudio asked for, and a server then may hold the stream for up to two
// seconds before it plays; the program's output does not.
TEST(PlaybackThroughSoundServer, TheProgramIsHeardSoonAfterPlay) {
    if (const std::string tool = missingTool({"pulseaudio", "parec", "pactl", "timeout"}); !tool.empty()) GTEST_SKIP() << tool << " is not installed";
    for (const bool playedBefore : {false, true}) {
        const double seconds = secondsUntilHeard(Output::system, playedBefore);
        ASSERT_GE(seconds, 0.0) << "no measurement: " << seconds;
        std::printf("heard %.3f s after PLAY%s\n", seconds, playedBefore ? " (after another playback)" : "");
        EXPECT_LT(seconds, 0.6);
    }
}

}  // namespace
}  // namespace notavox
