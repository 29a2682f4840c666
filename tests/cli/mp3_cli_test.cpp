// notavox-convert with MP3 inputs and outputs, checked against mpg123.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "audio/WavFile.h"
#include "cli/ToolRun.h"
#include "support/Files.h"
#include "support/SmallFileSystem.h"
#include "support/TempDir.h"
#include "codecs/Mp3Frame.h"

using namespace notavox;

namespace {

using notavox::testing::readFile;
using notavox::testing::ToolRun;

ToolRun tool(const std::string& args) { return notavox::testing::runConvertTool(args); }

bool sh(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }


class ConvertToolMp3 : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sh("command -v lame") || !sh("command -v mpg123") || !sh("command -v sox"))
            GTEST_SKIP() << "lame, mpg123 or sox missing";
        ASSERT_FALSE(dir.empty());
        wav = dir + "/tone.wav";
        ASSERT_TRUE(sh("sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth 2 sine 440 sine 554 vol 0.5"));
    }

    Mp3FrameHeader firstFrame(const std::string& mp3) {
        const std::string b = readFile(mp3);
        EXPECT_GT(b.size(), 4u);
        const uint8_t* h = reinterpret_cast<const uint8_t*>(b.data());
        EXPECT_TRUE(b.size() > 4 && IsValidMp3FrameHeader(h));
        return b.size() > 4 ? ParseMp3FrameHeader(h) : Mp3FrameHeader();
    }

    notavox::testing::TempDir tmp;
    std::string dir = tmp.path(), wav;
};

}  // namespace

TEST_F(ConvertToolMp3, Mp3InputDecodesLikeMpg123) {
    const std::string mp3 = dir + "/tone.MP3";
    ASSERT_TRUE(sh("lame --quiet -b 128 '" + wav + "' '" + mp3 + "'"));
    const ToolRun r = tool("'" + mp3 + "' '" + dir + "/out.wav'");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(sh("mpg123 -q -w '" + dir + "/ref.wav' '" + mp3 + "'"));
    WavData got, ref;
    ASSERT_TRUE(ReadWAVFile(dir + "/out.wav", got));
    ASSERT_TRUE(ReadWAVFile(dir + "/ref.wav", ref));
    EXPECT_EQ(got.sampleRate, 44100);
    EXPECT_TRUE(got.stereo);
    ASSERT_EQ(got.byteCount, ref.byteCount);
    EXPECT_EQ(std::memcmp(got.block.get(), ref.block.get(), size_t(got.byteCount)), 0);

    const ToolRun m = tool("-q '" + mp3 + "' '" + dir + "/out.mid'");
    ASSERT_EQ(m.status, 0) << m.output;
    EXPECT_EQ(readFile(dir + "/out.mid").substr(0, 4), "MThd");
}

TEST_F(ConvertToolMp3, Mp3OutputWithTheDefaultsAndTheListValues) {
    ASSERT_EQ(tool("-q '" + wav + "' '" + dir + "/a.mp3'").status, 0);
    Mp3FrameHeader f = firstFrame(dir + "/a.mp3");
    EXPECT_EQ(Mp3SampleRate(f), 44100);
    EXPECT_EQ(Mp3BitRate(f), 128);
    EXPECT_EQ(f.channelMode, 0);

    ASSERT_EQ(tool("-q --rate 22050 --bitrate 64 '" + wav + "' '" + dir + "/b.Mp3'").status, 0);
    f = firstFrame(dir + "/b.Mp3");
    EXPECT_EQ(Mp3SampleRate(f), 22050);
    EXPECT_EQ(Mp3BitRate(f), 64);
    ASSERT_TRUE(sh("mpg123 -q -w '" + dir + "/b.wav' '" + dir + "/b.Mp3'"));
    WavData dec;
    ASSERT_TRUE(ReadWAVFile(dir + "/b.wav", dec));
    EXPECT_EQ(dec.sampleRate, 22050);
    EXPECT_NEAR(dec.byteCount / 4, 2 * 22050, 4 * 576);

    // MP3 to MP3: decoded by the import, encoded again.
    ASSERT_EQ(tool("-q --rate 11025 --bitrate 16 '" + dir + "/b.Mp3' '" + dir + "/c.mp3'").status, 0);
    f = firstFrame(dir + "/c.mp3");
    EXPECT_EQ(Mp3SampleRate(f), 11025);
    EXPECT_EQ(Mp3BitRate(f), 16);
}

TEST_F(ConvertToolMp3, OtherValuesAreRefusedWithTheAllowedOnes) {
    ToolRun r = tool("--rate 12345 '" + wav + "' '" + dir + "/x.mp3'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("--rate 12345: erlaubt sind 48000, 44100, 32000, 24000, 22050, 16000, 11025"),
              std::string::npos)
        << r.output;
    r = tool("--bitrate 320 '" + wav + "' '" + dir + "/x.mp3'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("--bitrate 320: erlaubt sind 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(tool("--bitrate 128k '" + wav + "' '" + dir + "/x.mp3'").status, 2);
    EXPECT_EQ(tool("'" + wav + "' '" + dir + "/x.mp3' --rate").status, 2);
    EXPECT_EQ(readFile(dir + "/x.mp3"), "");
    EXPECT_NE(tool("--help").output.find("--bitrate"), std::string::npos);
}

TEST_F(ConvertToolMp3, UnreadableMp3InputIsReported) {
    const ToolRun r = tool("'" + dir + "/fehlt.mp3' '" + dir + "/x.wav'");
    EXPECT_EQ(r.status, 1);
    // Once, with the cause after the program's text.
    EXPECT_EQ(r.output.find(dir + "/fehlt.mp3: Konnte Datei nicht öffnen: die Datei gibt es nicht\n"), 0u)
        << r.output;
    EXPECT_EQ(r.output.find("fehlt.mp3", r.output.find("fehlt.mp3") + 1), std::string::npos) << r.output;
}

// Ctrl+C, SIGTERM or SIGHUP during an MP3 import leaves no file behind, keeps
// the old output and ends with a failure status.
TEST_F(ConvertToolMp3, InterruptedImportLeavesNothingBehind) {
    // Ten minutes of MP3: frames of a short encoding, one after the other.
    const std::string piece = dir + "/piece.mp3";
    ASSERT_TRUE(sh("lame --quiet -b 128 '" + wav + "' '" + piece + "'"));
    const std::string song = dir + "/lang.mp3";
    {
        const std::string frames = readFile(piece);
        ASSERT_GT(frames.size(), 1000u);
        FILE* out = std::fopen(song.c_str(), "wb");
        for (int i = 0; i < 300; ++i) std::fwrite(frames.data(), 1, frames.size(), out);
        std::fclose(out);
    }
    const std::string tmp = dir + "/tmp";
    const std::string out = dir + "/out";
    ASSERT_EQ(::mkdir(tmp.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(out.c_str(), 0700), 0);
    const std::string old = out + "/lang.wav";
    FILE* f = std::fopen(old.c_str(), "wb");
    std::fputs("old", f);
    std::fclose(f);
    auto entries = [](const std::string& d) {
        std::vector<std::string> v;
        for (const auto& e : std::filesystem::directory_iterator(d)) v.push_back(e.path().filename().string());
        return v;
    };
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("TMPDIR", tmp.c_str(), 1);
            if (FILE* log = std::freopen((dir + "/log.txt").c_str(), "w", stderr)) (void)log;
            ::execl(notavox::testing::kConvertTool.c_str(), "notavox-convert", "-q", song.c_str(), old.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Interrupt while the decoding runs (ten minutes take seconds).
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "ended before the interrupt: " << readFile(dir + "/log.txt");
        ::kill(pid, sig);
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0)) << sig;
        EXPECT_TRUE(entries(tmp).empty()) << sig << ": " << entries(tmp).front();
        EXPECT_EQ(entries(out), std::vector<std::string>{"lang.wav"}) << sig;
        EXPECT_EQ(readFile(old), "old") << sig;
    }
}

// An MP3 output names why it could not be written; an MP3 input whose
// decoding finds the folder for temporary files full says so.
// The MP3 input is decoded straight into the recording: a full folder for
// temporary files does not stop it.
TEST_F(ConvertToolMp3, SaveErrorsNameTheirCauseAndTheInputNeedsNoTemporaryFolder) {
    const ToolRun r = tool("'" + wav + "' '" + dir + "/kein/Ordner.mp3'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Konnte Datei nicht erstellen... Den Ordner gibt es nicht."), std::string::npos) << r.output;

    const std::string mp3 = dir + "/tone.mp3";
    ASSERT_TRUE(sh("lame --quiet -b 128 '" + wav + "' '" + mp3 + "'"));
    ASSERT_EQ(::mkdir((dir + "/tmp").c_str(), 0700), 0);
    const int status = notavox::testing::InSmallFileSystem(dir + "/tmp", 64 << 10, [&] {
        ::setenv("TMPDIR", (dir + "/tmp").c_str(), 1);
        const ToolRun full = tool("'" + mp3 + "' '" + dir + "/out.mid'");
        if (full.status != 0) std::fprintf(stderr, "%s\n", full.output.c_str());
        return full.status;
    });
    if (status == notavox::testing::kNoSmallFileSystem) GTEST_SKIP() << "no user and mount namespaces here";
    EXPECT_EQ(status, 0);
}
