#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "audio/MemoryBudget.h"
#include "audio/WavFile.h"
#include "cli/ConvertJob.h"
#include "cli/ToolRun.h"
#include "support/Files.h"
#include "support/SmallFileSystem.h"
#include "support/TempDir.h"
#include "transcription/MidiConversion.h"

using namespace notavox;

namespace {

using notavox::testing::readFile;
using notavox::testing::ToolRun;

ToolRun run(const std::string& args, int timeLimit = 0) { return notavox::testing::runConvertTool(args, timeLimit); }

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

class ConvertTool : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir.empty()); }

    // A WAV file with a few tones in the given format.
    std::string makeWav(const std::string& name, int32_t rate, bool stereo, bool sixteen, double seconds,
                        double base) {
        const int32_t frames = int32_t(rate * seconds);
        const int32_t bpf = (stereo ? 2 : 1) * (sixteen ? 2 : 1);
        std::vector<uint8_t> bytes(size_t(frames) * size_t(bpf));
        for (int32_t i = 0; i < frames; ++i) {
            const double f = base * (1 + (i / (rate / 4)) % 3 * 0.25);
            const double v = 0.3 * std::sin(2 * M_PI * f * i / rate) + 0.2 * std::sin(2 * M_PI * 1.5 * f * i / rate);
            for (int c = 0; c < (stereo ? 2 : 1); ++c) {
                uint8_t* p = bytes.data() + size_t(i) * size_t(bpf) + size_t(c) * (sixteen ? 2 : 1);
                if (sixteen) {
                    const int16_t s = int16_t(v * 30000 * (c ? 0.5 : 1));
                    std::memcpy(p, &s, 2);
                } else {
                    *p = uint8_t(128 + v * 120);
                }
            }
        }
        const std::string path = dir + "/" + name;
        EXPECT_TRUE(WriteWAVFile(path, bytes.data(), stereo, sixteen, rate, int32_t(bytes.size())));
        return path;
    }

    // What the command writes for the file: open, then "Speichern als MID...".
    std::string commandBytes(const std::string& wav) {
        WavData w;
        EXPECT_TRUE(ReadWAVFile(wav, w));
        AudioDocument doc;
        doc.replace(std::move(w.block), w.byteCount, w.sampleRate, w.stereo, w.sixteenBit);
        Song song;
        OperationHost host;
        const std::string out = dir + "/reference.mid";
        EXPECT_EQ(ConvertRecordingToMIDI(doc, song, out, host).result, MidiConversionResult::Written);
        std::string bytes = readFile(out);
        std::remove(out.c_str());
        return bytes;
    }

    notavox::testing::TempDir tmp;
    std::string dir = tmp.path();
};

}  // namespace

TEST_F(ConvertTool, OneFileToMidiGivesTheCommandsBytes) {
    const std::string example = std::string(NOTAVOX_SOURCE_DIR) + "/examples/melody.wav";
    const ToolRun r = run("'" + example + "' '" + dir + "/melody.mid'");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("1 von 1 Dateien umgewandelt"), std::string::npos) << r.output;
    EXPECT_EQ(readFile(dir + "/melody.mid"), commandBytes(example));
    for (auto [rate, stereo, sixteen] : {std::tuple{48000, true, true}, {22050, false, false}, {11025, true, false}}) {
        const std::string in = makeWav("in.wav", rate, stereo, sixteen, 2.0, 330);
        ASSERT_EQ(run("-q '" + in + "' '" + dir + "/out.MID'").status, 0);
        EXPECT_EQ(readFile(dir + "/out.MID"), commandBytes(in)) << rate;
    }
}

TEST_F(ConvertTool, WavOutputIsTheRecordingAsTheWriterWritesIt) {
    const std::string in = makeWav("a.wav", 22050, true, true, 0.5, 440);
    const ToolRun r = run("'" + in + "' '" + dir + "/b.wav'");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(readFile(dir + "/b.wav"), readFile(in));
    if (std::system("command -v soxi >/dev/null 2>&1") == 0) {
        FILE* p = popen(("soxi -r '" + dir + "/b.wav'").c_str(), "r");
        char buf[64] = {};
        ASSERT_NE(fgets(buf, sizeof buf, p), nullptr);
        pclose(p);
        EXPECT_EQ(std::string(buf), "22050\n");
    }
}

TEST_F(ConvertTool, SeveralFilesInParallelIntoAFolder) {
    std::vector<std::string> ins;
    std::string args;
    for (int i = 0; i < 5; ++i) {
        ins.push_back(makeWav("f" + std::to_string(i) + ".wav", 44100, i % 2, i % 3 == 0, 1.5, 200 + 60 * i));
        args += "'" + ins.back() + "' ";
    }
    const std::string bad = dir + "/broken.wav";
    FILE* f = std::fopen(bad.c_str(), "wb");
    std::fputs("RIFF....WAVEjunk", f);
    std::fclose(f);
    ASSERT_EQ(::mkdir((dir + "/out").c_str(), 0755), 0);
    const ToolRun r = run(args + "'" + bad + "' '" + dir + "/missing.wav' -o '" + dir + "/out'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find(bad + ": Konnte Datei nicht öffnen"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(dir + "/missing.wav: Konnte Datei nicht öffnen"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("5 von 7 Dateien umgewandelt, 2 fehlgeschlagen"), std::string::npos) << r.output;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(readFile(dir + "/out/f" + std::to_string(i) + ".mid"), commandBytes(ins[size_t(i)])) << i;
    EXPECT_FALSE(exists(dir + "/out/broken.mid"));
}

TEST_F(ConvertTool, OutputThatCannotBeCreated) {
    const std::string in = makeWav("a.wav", 8000, false, false, 0.5, 440);
    const ToolRun r = run("'" + in + "' '" + dir + "/no/such/folder/a.mid'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find(dir + "/no/such/folder/a.mid: Konnte die MIDI Datei nicht erstellen!"), std::string::npos)
        << r.output;
    const ToolRun w = run("'" + in + "' '" + dir + "/no/a.wav'");
    EXPECT_EQ(w.status, 1);
    EXPECT_NE(w.output.find("Konnte Datei nicht speichern"), std::string::npos) << w.output;
    // An old file of the name survives a failed conversion: here the
    // recording cannot be read, so nothing is written at all.
    const std::string old = dir + "/old.mid";
    FILE* f = std::fopen(old.c_str(), "wb");
    std::fputs("old", f);
    std::fclose(f);
    EXPECT_EQ(run("'" + dir + "/nothing.wav' '" + old + "'").status, 1);
    EXPECT_EQ(readFile(old), "old");
}

TEST_F(ConvertTool, HelpAndWrongUse) {
    const ToolRun h = run("--help");
    EXPECT_EQ(h.status, 0);
    EXPECT_NE(h.output.find("Aufruf"), std::string::npos);
    EXPECT_NE(h.output.find("-o"), std::string::npos);
    EXPECT_EQ(run("").status, 2);
    EXPECT_EQ(run("a.wav").status, 2);
    EXPECT_EQ(run("a.wav b.txt").status, 2);
    EXPECT_EQ(run("--bogus a.wav b.mid").status, 2);
    EXPECT_EQ(run("-o").status, 2);
    EXPECT_EQ(run("-o " + dir).status, 2);
}

TEST_F(ConvertTool, SameNameTwiceIsReported) {
    ASSERT_EQ(::mkdir((dir + "/a").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir + "/b").c_str(), 0755), 0);
    const std::string x = makeWav("a/x.wav", 8000, false, false, 0.3, 440);
    const std::string y = makeWav("b/x.wav", 8000, false, false, 0.3, 660);
    const ToolRun r = run("'" + x + "' '" + y + "' -o '" + dir + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readFile(dir + "/x.mid"), commandBytes(x));
    // The refusal names both inputs.
    EXPECT_NE(r.output.find(y + ": Ziel " + dir + "/x.mid wird schon von " + x + " geschrieben"), std::string::npos)
        << r.output;
}

TEST_F(ConvertTool, Mp3InputWithoutDecoderCannotBeOpened) {
    const std::string fake = dir + "/song.mp3";
    FILE* f = std::fopen(fake.c_str(), "wb");
    std::fputs("ID3", f);
    std::fclose(f);
    const ToolRun r = run("'" + fake + "' '" + dir + "/song.mid'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Konnte Datei nicht öffnen"), std::string::npos);
}

// A named pipe, a folder or a device as input is refused at once.
TEST_F(ConvertTool, SpecialFilesAreRefusedAtOnce) {
    for (const char* name : {"pipe.wav", "pipe.mp3"}) {
        const std::string fifo = dir + "/" + name;
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        const ToolRun r = run("-q '" + fifo + "' '" + dir + "/out.mid'", 20);
        EXPECT_EQ(r.status, 1) << name << r.output;
        EXPECT_NE(r.output.find(fifo + ": Konnte Datei nicht öffnen: keine gewöhnliche Datei"), std::string::npos)
            << r.output;
    }
    ASSERT_EQ(::mkdir((dir + "/folder.wav").c_str(), 0755), 0);
    const ToolRun d = run("-q '" + dir + "/folder.wav' /dev/zero '" + dir + "/out'" + " -o '" + dir + "/o'", 20);
    EXPECT_EQ(d.status, 1) << d.output;
    EXPECT_NE(d.output.find(dir + "/folder.wav: Konnte Datei nicht öffnen: keine gewöhnliche Datei"), std::string::npos)
        << d.output;
    EXPECT_NE(d.output.find("/dev/zero: Konnte Datei nicht öffnen: keine gewöhnliche Datei"), std::string::npos)
        << d.output;
    EXPECT_FALSE(exists(dir + "/out.mid"));
}

// An input whose standard-format step fails is a failure: status 1, no
// MIDI file, and the message names the file and the cause.
TEST_F(ConvertTool, FailedStepsAreFailuresWithTheirCause) {
    const std::string zero = makeWav("zero.wav", 8000, true, true, 0.3, 440);
    std::string bytes = readFile(zero);
    std::memset(bytes.data() + 24, 0, 8);  // 0 Hz, 0 bytes per second
    FILE* f = std::fopen(zero.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    const ToolRun r = run("'" + zero + "' '" + dir + "/zero.mid'");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(zero + ": Konnte Datei nicht öffnen: die Samplerate 0 Hz wird nicht unterstützt"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("0 von 1 Dateien umgewandelt, 1 fehlgeschlagen"), std::string::npos) << r.output;
    EXPECT_FALSE(exists(dir + "/zero.mid"));

    // Unsupported and truncated files say what is wrong with them.
    const std::string deep = dir + "/deep.wav";
    ASSERT_EQ(std::system(("sox -n -r 44100 -c 1 -b 24 '" + deep + "' synth 0.2 sine 440 2>/dev/null").c_str()), 0);
    const std::string flt = dir + "/float.wav";
    ASSERT_EQ(std::system(("sox -n -r 44100 -c 1 -e floating-point -b 32 '" + flt + "' synth 0.2 sine 440 2>/dev/null")
                              .c_str()),
              0);
    const std::string cut = makeWav("cut.wav", 8000, false, false, 0.5, 440);
    ASSERT_EQ(::truncate(cut.c_str(), 1000), 0);
    const ToolRun c = run("-q '" + deep + "' '" + flt + "' '" + cut + "' -o '" + dir + "/out'");
    EXPECT_EQ(c.status, 1);
    EXPECT_NE(c.output.find(deep + ": Konnte Datei nicht öffnen: nicht unterstütztes Format: 24 Bit"),
              std::string::npos)
        << c.output;
    EXPECT_NE(c.output.find(flt + ": Konnte Datei nicht öffnen: nicht unterstütztes Format: Gleitkomma"),
              std::string::npos)
        << c.output;
    EXPECT_NE(c.output.find(cut + ": Konnte Datei nicht öffnen: die Datei ist abgeschnitten"), std::string::npos)
        << c.output;
}

TEST_F(ConvertTool, OutputFolderIsCreated) {
    const std::string in = makeWav("a.wav", 8000, false, false, 0.3, 440);
    const ToolRun r = run("-q '" + in + "' -o '" + dir + "/neu/unter'");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(readFile(dir + "/neu/unter/a.mid"), commandBytes(in));
    // A file in the way is reported.
    const ToolRun blocked = run("-q '" + in + "' -o '" + in + "/x'");
    EXPECT_EQ(blocked.status, 1);
    EXPECT_NE(blocked.output.find("Konnte den Ordner nicht anlegen"), std::string::npos) << blocked.output;
}

// In-process: a 1000 Hz recording does not get the 44-fold memory its
// standard format asks for when the machine has not got it, and nothing is
// written.
TEST_F(ConvertTool, ConversionBeyondTheAvailableMemoryIsRefused) {
    std::vector<uint8_t> samples(88000, 1);
    const std::string in = dir + "/one-hertz.wav";
    ASSERT_TRUE(WriteWAVFile(in, samples.data(), false, true, 1000, int32_t(samples.size())));
    ProcessMemoryBudget().setAvailable([] { return uint64_t(1) << 20; });
    OperationHost host;
    const cli::JobResult r = cli::ConvertFile(in, dir + "/one-hertz.mid", host, cli::Mp3Codecs{}, 1);
    ProcessMemoryBudget().setAvailable(SystemAvailableMemory);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.aboutInput);
    EXPECT_EQ(r.message, "Das Sampleformat kann nicht geändert werden: Nicht genug Speicher.");
    EXPECT_FALSE(exists(dir + "/one-hertz.mid"));
}

// Both analyses take the rates the open command takes: a header claiming
// 0 Hz, 1 Hz, 2^31 Hz, 2^32 - 1 Hz or 2 GHz is refused with the rate named
// in German, status 1 and no file; nothing of the resampler's text shows.
TEST_F(ConvertTool, RatesOutsideTheRangeAreRefusedByBothAnalyses) {
    const std::string good = makeWav("rate.wav", 8000, false, true, 0.2, 440);
    const std::string bytes = readFile(good);
    for (uint32_t rate : {0u, 1u, 2147483648u, 4294967295u, 2000000000u}) {
        const std::string in = dir + "/r" + std::to_string(rate) + ".wav";
        std::string b = bytes;
        for (int i = 0; i < 4; ++i) b[size_t(24 + i)] = char((rate >> (8 * i)) & 0xFF);
        FILE* f = std::fopen(in.c_str(), "wb");
        std::fwrite(b.data(), 1, b.size(), f);
        std::fclose(f);
        for (const char* mode : {"", "--accurate "}) {
            const ToolRun r = run(std::string(mode) + "'" + in + "' '" + dir + "/out.mid'", 60);
            EXPECT_EQ(r.status, 1) << mode << rate << r.output;
            EXPECT_NE(r.output.find(in + ": Konnte Datei nicht öffnen: die Samplerate " + std::to_string(rate) +
                                    " Hz wird nicht unterstützt (erlaubt sind 1000 bis 192000 Hz)"),
                      std::string::npos)
                << r.output;
            EXPECT_EQ(r.output.find("SRC"), std::string::npos) << r.output;
            EXPECT_FALSE(exists(dir + "/out.mid"));
        }
    }
}

// Every failed save says why, in German, after the program's own text:
// a missing folder, and a full disk (a small file system of its own).
TEST_F(ConvertTool, SaveErrorsNameTheirCause) {
    const std::string in = makeWav("a.wav", 8000, false, true, 2.0, 440);
    const std::string none = dir + "/kein/Ordner";
    const std::pair<std::string, std::string> cases[] = {
        {"'" + in + "' '" + none + ".mid'", none + ".mid: Konnte die MIDI Datei nicht erstellen! Den Ordner gibt es nicht."},
        {"--accurate '" + in + "' '" + none + ".mid'",
         none + ".mid: Konnte die MIDI Datei nicht erstellen! Den Ordner gibt es nicht."},
        {"'" + in + "' '" + none + ".wav'", none + ".wav: Konnte Datei nicht speichern: Den Ordner gibt es nicht."}};
    for (const auto& [args, text] : cases) {
        const ToolRun r = run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find(text), std::string::npos) << r.output;
    }
    ASSERT_EQ(::mkdir((dir + "/voll").c_str(), 0700), 0);
    const int status = notavox::testing::InSmallFileSystem(dir + "/voll", 16 << 10, [&] {
        // Filled to the last block.
        if (FILE* filler = std::fopen((dir + "/voll/filler").c_str(), "wb")) {
            const std::string block(1024, 'f');
            while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() && std::fflush(filler) == 0) {
            }
            std::fclose(filler);
        }
        int wrong = 0;
        for (const char* out : {"/voll/a.mid", "/voll/a.wav"}) {
            const ToolRun r = run("'" + in + "' '" + dir + out + "'");
            if (r.status != 1 || r.output.find("Der Datenträger ist voll.") == std::string::npos) {
                std::fprintf(stderr, "%s\n", r.output.c_str());
                ++wrong;
            }
        }
        return wrong;
    });
    if (status == notavox::testing::kNoSmallFileSystem) GTEST_SKIP() << "no user and mount namespaces here";
    EXPECT_EQ(status, 0);
}
