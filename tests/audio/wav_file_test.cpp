#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "audio/ByteOrder.h"
#include "audio/Recording.h"
#include "audio/WavFile.h"
#include "support/Finishes.h"
#include "support/TempDir.h"

using namespace notavox;
using notavox::testing::TempDir;

namespace {

using Bytes = std::vector<uint8_t>;

void put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void put16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void putId(Bytes& b, const char* id) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(id[i]));
}
// Appends element by element (GCC 12 warns wrongly about range inserts here).
void append(Bytes& b, const Bytes& d) {
    for (uint8_t x : d) b.push_back(x);
}

Bytes chunk(const char* id, const Bytes& data) {
    Bytes b;
    putId(b, id);
    put32(b, uint32_t(data.size()));
    append(b, data);
    if (data.size() & 1) b.push_back(0);
    return b;
}

Bytes fmtRecord(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, size_t extra = 0) {
    Bytes b;
    put16(b, tag);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * channels * bits / 8);
    put16(b, uint16_t(channels * bits / 8));
    put16(b, bits);
    for (size_t i = 0; i < extra; ++i) b.push_back(0);
    return b;
}

Bytes riff(const std::vector<Bytes>& chunks) {
    Bytes body;
    putId(body, "WAVE");
    for (const auto& c : chunks) append(body, c);
    Bytes b;
    putId(b, "RIFF");
    put32(b, uint32_t(body.size()));
    append(b, body);
    return b;
}

void writeFile(const std::string& name, const Bytes& b) {
    std::ofstream f(name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

Bytes readFile(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

Bytes samples(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 7 + 3);
    return b;
}

std::string run(const std::string& cmd) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    ::pclose(p);
    return out;
}

bool haveTool(const char* tool) { return run(std::string("command -v ") + tool).size() > 0; }

}  // namespace

TEST(WavRead, AcceptsPcmWithOtherChunksAndLongFmt) {
    TempDir dir;
    const Bytes data = samples(10);
    const std::string name = dir.file("a.wav");
    Bytes list;
    putId(list, "INFO");
    list.push_back('x');  // odd size: skipped with its pad byte
    writeFile(name, riff({chunk("fmt ", fmtRecord(1, 2, 22050, 16, 2)), chunk("LIST", list), chunk("data", data)}));
    WavData wav;
    ASSERT_TRUE(ReadWAVFile(name, wav));
    EXPECT_EQ(wav.byteCount, 10);
    EXPECT_EQ(wav.sampleRate, 22050);
    EXPECT_TRUE(wav.stereo);
    EXPECT_TRUE(wav.sixteenBit);
    EXPECT_EQ(0, std::memcmp(wav.block.get(), data.data(), 10));
}

TEST(WavRead, KeepsOddByteCount) {
    TempDir dir;
    const std::string name = dir.file("odd.wav");
    writeFile(name, riff({chunk("fmt ", fmtRecord(1, 2, 8000, 16)), chunk("data", samples(7))}));
    WavData wav;
    ASSERT_TRUE(ReadWAVFile(name, wav));
    EXPECT_EQ(wav.byteCount, 7);
    EXPECT_EQ(wav.sampleRate, 8000);
}

// Rates outside 1000..192000 Hz are refused before the samples are read,
// naming the rate as the file gives it; the edges are taken.
TEST(WavRead, RefusesRatesOutsideTheRangeBeforeReading) {
    TempDir dir;
    const std::string name = dir.file("rate.wav");
    for (uint32_t rate : {0u, 1u, 999u, 192001u, 2147483648u, 4294967295u}) {
        // The data chunk claims more than the file holds: only a refusal
        // before the read gives the rate as the cause.
        Bytes file = riff({chunk("fmt ", fmtRecord(1, 1, rate, 8)), chunk("data", samples(100))});
        PutLE32(&file[file.size() - 104], 1000000u);
        writeFile(name, file);
        WavData wav;
        WavReadFailure why;
        EXPECT_FALSE(ReadWAVFile(name, wav, &why));
        EXPECT_EQ(why.error, WavReadError::UnsupportedRate) << rate;
        EXPECT_EQ(WavReadErrorText(why), "die Samplerate " + std::to_string(rate) +
                                             " Hz wird nicht unterstützt (erlaubt sind 1000 bis 192000 Hz)");
        EXPECT_EQ(wav.block, nullptr);
    }
    for (uint32_t rate : {1000u, 192000u}) {
        writeFile(name, riff({chunk("fmt ", fmtRecord(1, 1, rate, 8)), chunk("data", samples(100))}));
        WavData wav;
        EXPECT_TRUE(ReadWAVFile(name, wav)) << rate;
        EXPECT_EQ(wav.sampleRate, int32_t(rate));
    }
}

TEST(WavRead, FindsWaveFormAfterOtherTopLevelChunks) {
    TempDir dir;
    const std::string name = dir.file("b.wav");
    Bytes b = chunk("JUNK", samples(5));
    Bytes w = riff({chunk("fmt ", fmtRecord(1, 1, 8000, 8)), chunk("data", samples(4))});
    append(b, w);
    writeFile(name, b);
    WavData wav;
    ASSERT_TRUE(ReadWAVFile(name, wav));
    EXPECT_EQ(wav.byteCount, 4);
    EXPECT_FALSE(wav.stereo);
    EXPECT_FALSE(wav.sixteenBit);
}

TEST(WavRead, RefusesEveryMalformedFile) {
    TempDir dir;
    const Bytes d = samples(8);
    Bytes notWave = riff({chunk("fmt ", fmtRecord(1, 1, 8000, 8)), chunk("data", d)});
    std::memcpy(notWave.data() + 8, "AVI ", 4);
    Bytes hugeClaim = riff({chunk("fmt ", fmtRecord(1, 1, 8000, 8))});
    putId(hugeClaim, "data");
    put32(hugeClaim, 0x7FFFFFF0u);  // 2 GB of samples in a tiny file
    append(hugeClaim, d);
    Bytes overLimit = riff({chunk("fmt ", fmtRecord(1, 1, 8000, 8))});
    putId(overLimit, "data");
    put32(overLimit, 0x80000000u);
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"empty", {}},
        {"not riff", Bytes{'R', 'I', 'F', 'X', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}},
        {"not wave", notWave},
        {"no fmt", riff({chunk("data", d)})},
        {"data before fmt", riff({chunk("data", d), chunk("fmt ", fmtRecord(1, 1, 8000, 8))})},
        {"no data", riff({chunk("fmt ", fmtRecord(1, 1, 8000, 8))})},
        {"short fmt", riff({chunk("fmt ", Bytes(14, 1)), chunk("data", d)})},
        {"not pcm", riff({chunk("fmt ", fmtRecord(3, 1, 8000, 8)), chunk("data", d)})},
        {"three channels", riff({chunk("fmt ", fmtRecord(1, 3, 8000, 8)), chunk("data", d)})},
        {"no channels", riff({chunk("fmt ", fmtRecord(1, 0, 8000, 8)), chunk("data", d)})},
        {"24 bits", riff({chunk("fmt ", fmtRecord(1, 1, 8000, 24)), chunk("data", d)})},
        {"empty data", riff({chunk("fmt ", fmtRecord(1, 1, 8000, 8)), chunk("data", {})})},
        {"data longer than file", hugeClaim},
        {"data above 2147483647", overLimit},
    };
    for (const auto& [what, bytes] : cases) {
        const std::string name = dir.file("bad.wav");
        writeFile(name, bytes);
        WavData wav;
        EXPECT_FALSE(ReadWAVFile(name, wav)) << what;
        EXPECT_FALSE(wav.block) << what;
        EXPECT_EQ(wav.byteCount, 0) << what;
    }
}

TEST(WavRead, RefusesEveryTruncationOfAValidFile) {
    TempDir dir;
    const Bytes full = riff({chunk("fmt ", fmtRecord(1, 2, 44100, 16)), chunk("data", samples(16))});
    for (size_t len = 0; len < full.size(); ++len) {
        const std::string name = dir.file("cut.wav");
        writeFile(name, Bytes(full.begin(), full.begin() + std::ptrdiff_t(len)));
        WavData wav;
        EXPECT_FALSE(ReadWAVFile(name, wav)) << "cut at " << len;
    }
}

// A named pipe with nobody writing to it is refused at once: the reader
// never waits for a writer or for data.
TEST(WavRead, RefusesPipesAtOnce) {
    TempDir dir;
    const std::string fifo = dir.file("pipe.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int status = notavox::testing::exitStatusWithin(5, [&] {
        WavData wav;
        WavReadFailure why;
        if (ReadWAVFile(fifo, wav, &why)) return 1;
        return why.error == WavReadError::NotRegular ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    WavData wav;
    WavReadFailure why;
    EXPECT_FALSE(ReadWAVFile(dir.path(), wav, &why));
    EXPECT_EQ(why.error, WavReadError::NotRegular);
    EXPECT_EQ(WavReadErrorText(why), "keine gewöhnliche Datei (Ordner, Pipe oder Gerät)");
}

// Each refusal says why, for the converter's messages.
TEST(WavRead, FailureCauses) {
    TempDir dir;
    const std::string name = dir.file("x.wav");
    auto cause = [&](const Bytes& b) {
        writeFile(name, b);
        WavData wav;
        WavReadFailure why;
        EXPECT_FALSE(ReadWAVFile(name, wav, &why));
        return WavReadErrorText(why);
    };
    EXPECT_EQ(cause(riff({chunk("fmt ", fmtRecord(1, 2, 44100, 24)), chunk("data", samples(60))})),
              "nicht unterstütztes Format: 24 Bit");
    EXPECT_EQ(cause(riff({chunk("fmt ", fmtRecord(3, 1, 44100, 32)), chunk("data", samples(64))})),
              "nicht unterstütztes Format: Gleitkomma");
    EXPECT_EQ(cause(riff({chunk("fmt ", fmtRecord(1, 6, 44100, 16)), chunk("data", samples(64))})),
              "nicht unterstütztes Format: 6 Kanäle");
    Bytes cut = riff({chunk("fmt ", fmtRecord(1, 1, 8000, 8)), chunk("data", samples(400))});
    cut.erase(cut.end() - 100, cut.end());
    EXPECT_EQ(cause(cut), "die Datei ist abgeschnitten");
    EXPECT_EQ(cause(Bytes{'n', 'o', 'p', 'e'}), "keine WAV-Datei");
    WavData wav;
    WavReadFailure why;
    EXPECT_FALSE(ReadWAVFile(dir.file("missing.wav"), wav, &why));
    EXPECT_EQ(WavReadErrorText(why), "die Datei gibt es nicht");
}

TEST(WavRead, RefusesMissingFilesAndFolders) {
    TempDir dir;
    WavData wav;
    EXPECT_FALSE(ReadWAVFile(dir.file("missing.wav"), wav));
    EXPECT_FALSE(ReadWAVFile(dir.path(), wav));
    const std::string name = dir.file("locked.wav");
    writeFile(name, riff({chunk("fmt ", fmtRecord(1, 1, 8000, 8)), chunk("data", samples(4))}));
    ::chmod(name.c_str(), 0);
    if (::geteuid() != 0) {  // root reads anything
        EXPECT_FALSE(ReadWAVFile(name, wav));
    }
}

TEST(WavWrite, WritesTheExactHeaderAndPadByte) {
    TempDir dir;
    const std::string name = dir.file("out.wav");
    const Bytes data = samples(7);
    ASSERT_TRUE(WriteWAVFile(name, data.data(), true, true, 44100, 7));
    const Bytes got = readFile(name);
    Bytes want;
    putId(want, "RIFF");
    put32(want, 36 + 7 + 1);
    putId(want, "WAVE");
    putId(want, "fmt ");
    put32(want, 16);
    put16(want, 1);
    put16(want, 2);
    put32(want, 44100);
    put32(want, 176400);
    put16(want, 4);
    put16(want, 16);
    putId(want, "data");
    put32(want, 7);
    append(want, data);
    want.push_back(0);
    EXPECT_EQ(got, want);

    ASSERT_TRUE(WriteWAVFile(name, data.data(), false, false, 22050, 6));
    const Bytes small = readFile(name);
    ASSERT_EQ(small.size(), 44u + 6u);
    EXPECT_EQ(small[28] | small[29] << 8 | small[30] << 16, 22050);
    EXPECT_EQ(small[32], 1);
    EXPECT_EQ(small[34], 8);
}

TEST(WavWrite, EmptyRecordingGivesEmptyDataChunk) {
    TempDir dir;
    const std::string name = dir.file("empty.wav");
    ASSERT_TRUE(WriteWAVFile(name, nullptr, false, false, 0, 0));
    EXPECT_EQ(readFile(name).size(), 44u);
}

TEST(WavWrite, RoundTripIsByteIdentical) {
    TempDir dir;
    const std::string a = dir.file("a.wav"), b = dir.file("b.wav");
    const Bytes data = samples(4000);
    ASSERT_TRUE(WriteWAVFile(a, data.data(), true, true, 48000, 4000));
    WavData wav;
    ASSERT_TRUE(ReadWAVFile(a, wav));
    ASSERT_TRUE(WriteWAVFile(b, wav.block.get(), wav.stereo, wav.sixteenBit, wav.sampleRate, wav.byteCount));
    EXPECT_EQ(readFile(a), readFile(b));
}

TEST(WavWrite, FailedWriteKeepsTheOldFile) {
    TempDir dir;
    const std::string name = dir.file("keep.wav");
    writeFile(name, Bytes{1, 2, 3});
    EXPECT_FALSE(WriteWAVFile(dir.file("no/such/folder.wav"), samples(4).data(), false, false, 8000, 4));
    EXPECT_FALSE(WriteWAVFile(dir.path(), samples(4).data(), false, false, 8000, 4));
    EXPECT_EQ(readFile(name), (Bytes{1, 2, 3}));
}

TEST(WavWrite, SoxReadsWhatWeWrite) {
    if (!haveTool("soxi")) GTEST_SKIP() << "soxi not installed";
    TempDir dir;
    const std::string name = dir.file("sox.wav");
    const Bytes data = samples(44100 * 4);
    ASSERT_TRUE(WriteWAVFile(name, data.data(), true, true, 44100, int32_t(data.size())));
    EXPECT_EQ(run("soxi -r " + name), "44100\n");
    EXPECT_EQ(run("soxi -c " + name), "2\n");
    EXPECT_EQ(run("soxi -b " + name), "16\n");
    EXPECT_EQ(run("soxi -s " + name), "44100\n");
}

TEST(WavRead, ReadsWhatSoxWrites) {
    if (!haveTool("sox")) GTEST_SKIP() << "sox not installed";
    TempDir dir;
    const std::string name = dir.file("tone.wav");
    ASSERT_EQ(0, std::system(("sox -n -r 22050 -c 1 -b 8 -e unsigned-integer " + name +
                              " synth 0.5 sine 440 2>/dev/null").c_str()));
    WavData wav;
    ASSERT_TRUE(ReadWAVFile(name, wav));
    EXPECT_EQ(wav.sampleRate, 22050);
    EXPECT_FALSE(wav.stereo);
    EXPECT_FALSE(wav.sixteenBit);
    EXPECT_EQ(wav.byteCount, 11025);
}

TEST(TempFile, FirstFreeNameInTmpdirIsCreatedExclusively) {
    TempDir dir;
    const notavox::testing::TmpdirOverride tmpdir(dir.path());
    EXPECT_EQ(TempFolder(), dir.path() + "/");
    writeFile(dir.file("tempwav0.wav"), {});
    ASSERT_EQ(0, ::symlink("/nonexistent", dir.file("tempwav1.wav").c_str()));
    const std::string name = MakeTempFileName("tempwav", ".wav");
    EXPECT_EQ(name, dir.path() + "/tempwav2.wav");
    struct stat st {};
    EXPECT_EQ(0, ::lstat(name.c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(MakeTempFileName("tempwav", ".wav"), dir.path() + "/tempwav3.wav");
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(TempFolder(), "/tmp/");
}

TEST(WavRead, BigDataChunkReadInPartsKeepsEveryByte) {
    // Over 128 MB with an odd size: the read is split at a page boundary
    // that is no multiple of the frame size.
    TempDir dir;
    const std::string a = dir.file("big.wav");
    const int32_t count = (int32_t(128) << 20) + 4097;
    Bytes data(size_t(count), 0);
    uint32_t x = 99;
    for (auto& v : data) v = uint8_t((x = x * 1664525u + 1013904223u) >> 24);
    ASSERT_TRUE(WriteWAVFile(a, data.data(), true, true, 44100, count));
    WavData wav;
    ASSERT_TRUE(ReadWAVFile(a, wav));
    ASSERT_EQ(wav.byteCount, count);
    EXPECT_EQ(std::memcmp(wav.block.get(), data.data(), size_t(count)), 0);
}

// The extension picks the reader; the name without it titles scores and
// names the converter's outputs in a folder.
TEST(FileNames, ExtensionAndNameWithoutIt) {
    EXPECT_EQ(UpperExtension("aufnahmen/stück.mp3"), ".MP3");
    EXPECT_EQ(NameWithoutExtension("aufnahmen/stück.mp3"), "stück");
    EXPECT_EQ(UpperExtension("ordner.alt/lied"), "");
    EXPECT_EQ(NameWithoutExtension("ordner.alt/lied"), "lied");
    EXPECT_EQ(NameWithoutExtension("/tmp/lied.tar.gz"), "lied.tar");
    EXPECT_EQ(NameWithoutExtension("noten/.wav"), ".wav");
    EXPECT_EQ(NameWithoutExtension("lied"), "lied");
}
