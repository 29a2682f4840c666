#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <thread>

#include "CodecTestUtil.h"
#include "support/FakeDecoder.h"
#include "codecs/Mp3Frame.h"
#include "codecs/Mp3Import.h"

using namespace notavox;
using namespace notavox::testing;

namespace {

// Decodes with the program's own decoder, as the main window does.
struct Importer {
    std::unique_ptr<Decoder> decoder = MakeMpg123Decoder();
    Mp3FormatList formats;
    TACMConvertor mp3wav{*decoder};
    RecordingHost host;

    Importer() {
        LoadStoredMp3wavProperties(mp3wav);
        EnumerateMP3Formats(*decoder, formats, host);
    }
    Mp3ImportResult run(const std::string& mp3, const std::string& wav) {
        return ConvertMP3WAV(mp3, wav, formats, mp3wav, host);
    }
};

class Mp3ImportTools : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveTool("lame") || !haveTool("mpg123") || !haveTool("sox")) GTEST_SKIP() << "lame, mpg123 or sox missing";
    }

    // A tone of `seconds` made by sox and encoded by lame with `lameArgs`.
    std::string makeMp3(const std::string& name, int rate, int channels, double seconds,
                        const std::string& lameArgs) {
        const std::string wav = dir.file(name + ".src.wav");
        const std::string mp3 = dir.file(name);
        EXPECT_TRUE(runQuietly("sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 '" + wav +
                        "' synth " + std::to_string(seconds) + " sine 440 sine 660 vol 0.5"));
        EXPECT_TRUE(runQuietly("lame --quiet " + lameArgs + " '" + wav + "' '" + mp3 + "'"));
        return mp3;
    }

    // What the mpg123 command decodes from the file.
    WavData reference(const std::string& mp3) {
        const std::string out = mp3 + ".ref.wav";
        EXPECT_TRUE(runQuietly("mpg123 -q -w '" + out + "' '" + mp3 + "'"));
        WavData ref;
        EXPECT_TRUE(ReadWAVFile(out, ref));
        return ref;
    }

    void expectSameAsMpg123(const std::string& mp3, int rate, int channels, const std::string& ref = "") {
        Importer imp;
        const std::string wav = dir.file("out.wav");
        const Mp3ImportResult r = imp.run(mp3, wav);
        ASSERT_EQ(r.status, Mp3ImportStatus::Ok) << r.message;
        WavData got;
        ASSERT_TRUE(ReadWAVFile(wav, got)) << mp3;
        EXPECT_TRUE(got.sixteenBit);
        EXPECT_EQ(got.sampleRate, rate);
        EXPECT_EQ(got.stereo, channels == 2);
        WavData want = reference(ref.empty() ? mp3 : ref);
        ASSERT_EQ(got.byteCount, want.byteCount) << mp3;
        EXPECT_EQ(std::memcmp(got.block.get(), want.block.get(), size_t(got.byteCount)), 0) << mp3;
        // The header states the file's true sizes.
        const std::vector<uint8_t> bytes = readBytes(wav);
        ASSERT_GE(bytes.size(), 44u);
        EXPECT_EQ(bytes[4] | bytes[5] << 8 | bytes[6] << 16 | uint32_t(bytes[7]) << 24, bytes.size() - 8);
        EXPECT_EQ(bytes[40] | bytes[41] << 8 | bytes[42] << 16 | uint32_t(bytes[43]) << 24, bytes.size() - 44);
        EXPECT_EQ(imp.host.progress.back(), 0);
    }

    TempDir dir;
};

}  // namespace

TEST(Mp3Discovery, ListsEveryLayerIIIFormatOfTheDecoder) {
    Mp3FormatList formats;
    RecordingHost host;
    EnumerateMP3Formats(*MakeMpg123Decoder(), formats, host);
    ASSERT_EQ(formats.size(), 9u * 2u * 14u);
    EXPECT_EQ(host.pumps, 1);
    bool found = false;
    for (const FormatArea& f : formats) {
        EXPECT_EQ(wfx::tag(f), 0x55);
        EXPECT_EQ(wfx::blockAlign(f), 1);
        EXPECT_EQ(wfx::extraSize(f), 12);
        if (wfx::channels(f) == 2 && wfx::samplesPerSec(f) == 24000 && wfx::avgBytesPerSec(f) == 7000) {
            found = true;
            EXPECT_EQ(wfx::get16(f, wfx::kMp3BlockSize), 168);
        }
    }
    EXPECT_TRUE(found);
}

TEST(Mp3Discovery, KeepsOnlyLayerIIIFormatsInTheDecodersOrder) {
    FakeDecoder d;
    FormatArea pcm{}, a{}, b{};
    wfx::set16(pcm, wfx::kTag, 1);
    wfx::set16(a, wfx::kTag, 0x55);
    wfx::set16(a, wfx::kChannels, 1);
    wfx::set16(b, wfx::kTag, 0x55);
    wfx::set16(b, wfx::kChannels, 2);
    d.offered = {pcm, a, b, pcm};
    Mp3FormatList formats;
    RecordingHost host;
    EnumerateMP3Formats(d, formats, host);
    ASSERT_EQ(formats.size(), 2u);
    EXPECT_EQ(formats[0], a);
    EXPECT_EQ(formats[1], b);
    EXPECT_EQ(host.pumps, 1);
    EXPECT_EQ(d.calls, std::vector<std::string>{"formats"});
}

TEST_F(Mp3ImportTools, PlainStereoFileDecodesLikeMpg123) {
    expectSameAsMpg123(makeMp3("plain.mp3", 44100, 2, 2.0, "-b 128"), 44100, 2);
}

TEST_F(Mp3ImportTools, MonoAnd22050HzAndMpeg25Rates) {
    expectSameAsMpg123(makeMp3("mono.mp3", 44100, 1, 1.5, "-b 64 -m m"), 44100, 1);
    expectSameAsMpg123(makeMp3("lsf.mp3", 22050, 2, 1.5, "-b 64"), 22050, 2);
    expectSameAsMpg123(makeMp3("m25.mp3", 11025, 1, 1.5, "-b 16 -m m --resample 11.025"), 11025, 1);
    expectSameAsMpg123(makeMp3("m25b.mp3", 8000, 2, 1.5, "-b 24 --resample 8"), 8000, 2);
}

TEST_F(Mp3ImportTools, Id3v2TagAndLeadingZerosAreSkipped) {
    const std::string tagged = makeMp3("tag.mp3", 44100, 2, 1.0, "-b 128 --id3v2-only --tt Titel --pad-id3v2-size 300");
    expectSameAsMpg123(tagged, 44100, 2);
    // Zeros before the tag: the tag is found after them.
    std::vector<uint8_t> bytes = readBytes(tagged);
    bytes.insert(bytes.begin(), 37, uint8_t(0));
    const std::string zeros = dir.file("zeros.mp3");
    writeBytes(zeros, bytes);
    expectSameAsMpg123(zeros, 44100, 2, tagged);

    const std::vector<uint8_t> t = readBytes(tagged);
    const int64_t size = (t[6] & 0x7F) << 21 | (t[7] & 0x7F) << 14 | (t[8] & 0x7F) << 7 | (t[9] & 0x7F);
    const Mp3StreamInfo info = AnalyseMp3Stream(InputFile(tagged));
    EXPECT_GE(info.dataStart, 10 + size);
    EXPECT_TRUE(IsValidMp3FrameHeader(&t[size_t(info.dataStart)]));
}

TEST_F(Mp3ImportTools, RiffWrappedStream) {
    const std::string mp3 = makeMp3("inner.mp3", 44100, 2, 1.0, "-b 128");
    const std::vector<uint8_t> data = readBytes(mp3);
    std::vector<uint8_t> riff;
    auto put32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) riff.push_back(uint8_t(v >> (8 * i))); };
    auto put16 = [&](uint16_t v) { riff.push_back(uint8_t(v)); riff.push_back(uint8_t(v >> 8)); };
    auto tag = [&](const char* s) { riff.insert(riff.end(), s, s + 4); };
    tag("RIFF"); put32(uint32_t(4 + 38 + 12 + 8 + data.size() + (data.size() & 1)));
    tag("WAVE");
    tag("fmt "); put32(30);
    put16(0x55); put16(2); put32(44100); put32(16000); put16(1); put16(0); put16(12);
    put16(1); put32(2); put16(418); put16(1); put16(1393);
    tag("fact"); put32(4); put32(44100);
    tag("data"); put32(uint32_t(data.size()));
    riff.insert(riff.end(), data.begin(), data.end());
    if (data.size() & 1) riff.push_back(0);
    tag("LIST"); put32(4); tag("INFO");
    const std::string wrapped = dir.file("wrapped.wav.mp3");
    writeBytes(wrapped, riff);

    const Mp3StreamInfo info = AnalyseMp3Stream(InputFile(wrapped));
    EXPECT_TRUE(info.riffWrapped);
    EXPECT_EQ(info.dataStart, 70);
    EXPECT_EQ(info.dataEnd, 70 + int64_t(data.size()));
    EXPECT_EQ(info.bitRate, 128);
    expectSameAsMpg123(wrapped, 44100, 2, mp3);
}

TEST_F(Mp3ImportTools, TruncatedFileDecodesWhatIsThere) {
    const std::string mp3 = makeMp3("full.mp3", 44100, 2, 2.0, "-b 128");
    std::vector<uint8_t> bytes = readBytes(mp3);
    bytes.resize(bytes.size() / 2 + 123);
    const std::string cut = dir.file("cut.mp3");
    writeBytes(cut, bytes);
    Importer imp;
    const std::string wav = dir.file("cut.wav");
    ASSERT_EQ(imp.run(cut, wav).status, Mp3ImportStatus::Ok);
    WavData got;
    ASSERT_TRUE(ReadWAVFile(wav, got));
    const WavData want = reference(cut);
    // The last incomplete frame may or may not be given out; the rest matches.
    EXPECT_NEAR(got.byteCount, want.byteCount, 1152 * 4 * 2);
    EXPECT_EQ(std::memcmp(got.block.get(), want.block.get(), size_t(std::min(got.byteCount, want.byteCount)) / 2), 0);
}

TEST_F(Mp3ImportTools, FileWithoutAFrameGivesNoRecording) {
    std::vector<uint8_t> junk(5000);
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = uint8_t((i * 37) & 0x7F);
    const std::string path = dir.file("junk.mp3");
    writeBytes(path, junk);
    Importer imp;
    const std::string wav = dir.file("junk.wav");
    const Mp3ImportResult r = imp.run(path, wav);
    // Refused before anything is decoded.
    EXPECT_EQ(r.status, Mp3ImportStatus::CannotOpenInput);
    EXPECT_EQ(r.message, "Konnte Datei nicht öffnen!");
    EXPECT_FALSE(std::filesystem::exists(wav));
}

// Garbage is no music: a WAV file named .mp3 and random bytes are refused;
// bytes after the last frame are not decoded as noise.
TEST_F(Mp3ImportTools, GarbageIsRefusedAndTrailingGarbageNotDecoded) {
    Importer imp;
    const std::string pcm = dir.file("pcm.wav");
    ASSERT_TRUE(runQuietly("sox -n -r 44100 -c 2 -b 16 '" + pcm + "' synth 1 sine 440"));
    const std::string named = dir.file("wav-named.mp3");
    writeBytes(named, readBytes(pcm));
    std::vector<uint8_t> noise(200000);
    uint32_t x = 7;
    for (uint8_t& b : noise) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    const std::string random = dir.file("random.mp3");
    writeBytes(random, noise);
    for (const std::string& path : {named, random}) {
        const std::string wav = dir.file("garbage.wav");
        const Mp3ImportResult r = imp.run(path, wav);
        EXPECT_EQ(r.status, Mp3ImportStatus::CannotOpenInput) << path;
        EXPECT_FALSE(std::filesystem::exists(wav)) << path;
    }

    // A song followed by random bytes decodes to the song alone.
    const std::string song = makeMp3("song.mp3", 44100, 2, 1.0, "-b 128");
    std::vector<uint8_t> tailed = readBytes(song);
    tailed.insert(tailed.end(), noise.begin(), noise.end());
    const std::string withTail = dir.file("tailed.mp3");
    writeBytes(withTail, tailed);
    const std::string clean = dir.file("clean.wav");
    const std::string dirty = dir.file("dirty.wav");
    ASSERT_EQ(imp.run(song, clean).status, Mp3ImportStatus::Ok);
    ASSERT_EQ(imp.run(withTail, dirty).status, Mp3ImportStatus::Ok);
    EXPECT_EQ(readBytes(dirty), readBytes(clean));
}

// The conversion loop, driven through a fake driver that copies its input.
namespace {

class Mp3ImportLoop : public ::testing::Test {
protected:
    Mp3ImportLoop() : mp3wav(driver) {
        LoadStoredMp3wavProperties(mp3wav);
        formats.push_back(record(2, 44100, 16000, 1));
    }

    static FormatArea record(int channels, uint32_t rate, uint32_t avg, uint16_t marker) {
        FormatArea f{};
        wfx::set16(f, wfx::kTag, 0x55);
        wfx::set16(f, wfx::kChannels, uint16_t(channels));
        wfx::set32(f, wfx::kSamplesPerSec, rate);
        wfx::set32(f, wfx::kAvgBytesPerSec, avg);
        wfx::set16(f, wfx::kBlockAlign, 1);
        wfx::set16(f, wfx::kExtraSize, 12);
        wfx::set16(f, wfx::kMp3BlockSize, marker);
        return f;
    }

    // A file of `size` bytes: `prefix`, then frames of counting bytes, each
    // starting with the frame header (417 bytes each for the default one).
    std::string makeFile(size_t size, std::vector<uint8_t> prefix = {},
                         std::vector<uint8_t> head = {0xFF, 0xFB, 0x90, 0x64}) {
        std::vector<uint8_t> bytes = prefix;
        const size_t frame = size_t(Mp3FrameLength(head.data()));
        while (bytes.size() < size) {
            const size_t at = bytes.size() - prefix.size();
            if (frame > 0 && at % frame == 0) bytes.insert(bytes.end(), head.begin(), head.end());
            else bytes.push_back(uint8_t((bytes.size() * 13 + 1) & 0x7F));
        }
        bytes.resize(size);
        const std::string path = dir.file("in.mp3");
        writeBytes(path, bytes);
        return path;
    }

    Mp3ImportResult convert(const std::string& mp3) { return ConvertMP3WAV(mp3, wav, formats, mp3wav, host); }

    std::vector<uint32_t> flags() const {
        std::vector<uint32_t> f;
        for (const auto& c : driver.converts) f.push_back(c.flags);
        return f;
    }
    std::vector<uint32_t> lengths() const {
        std::vector<uint32_t> f;
        for (const auto& c : driver.converts) f.push_back(c.length);
        return f;
    }

    TempDir dir;
    FakeDecoder driver;
    TACMConvertor mp3wav;
    Mp3FormatList formats;
    RecordingHost host;
    std::string wav = dir.file("out.wav");
};

constexpr uint32_t START = ACM_STREAMCONVERTF_START, END = ACM_STREAMCONVERTF_END;

}  // namespace

TEST_F(Mp3ImportLoop, ChunksCarryStartAndEndFlags) {
    const std::string mp3 = makeFile(2148);
    ASSERT_EQ(convert(mp3).status, Mp3ImportStatus::Ok);
    EXPECT_EQ(lengths(), (std::vector<uint32_t>{1024, 1024, 100}));
    EXPECT_EQ(flags(), (std::vector<uint32_t>{START, 0, END}));
    EXPECT_EQ(mp3wav.InputBufferSize(), 1024u);
    EXPECT_EQ(host.progress, (std::vector<int32_t>{0, 47, 95, 100, 0, 0}));
    EXPECT_EQ(host.pumps, 3);
    EXPECT_FALSE(mp3wav.Active());
    EXPECT_EQ(driver.calls.back(), "close");

    // The WAV file: the header, then exactly what the codec gave out.
    const std::vector<uint8_t> in = readBytes(mp3), out = readBytes(wav);
    ASSERT_EQ(out.size(), 44 + in.size());
    EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin() + 44));
    const uint8_t head[44] = {'R', 'I', 'F', 'F', 0x88, 0x08, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                              16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0,
                              4, 0, 16, 0, 'd', 'a', 't', 'a', 0x64, 0x08, 0, 0};
    EXPECT_TRUE(std::equal(head, head + 44, out.begin()));
}

TEST_F(Mp3ImportLoop, ExactMultipleOfTheChunkNeverSendsEnd) {
    ASSERT_EQ(convert(makeFile(2048)).status, Mp3ImportStatus::Ok);
    EXPECT_EQ(flags(), (std::vector<uint32_t>{START, 0}));
}

TEST_F(Mp3ImportLoop, SingleShortChunkGetsEndOnly) {
    ASSERT_EQ(convert(makeFile(900)).status, Mp3ImportStatus::Ok);
    EXPECT_EQ(flags(), (std::vector<uint32_t>{END}));
}

TEST_F(Mp3ImportLoop, UnusedBytesAreOfferedAgain) {
    driver.useAtMost = 1000;
    const std::string mp3 = makeFile(2100);
    ASSERT_EQ(convert(mp3).status, Mp3ImportStatus::Ok);
    EXPECT_EQ(lengths(), (std::vector<uint32_t>{1024, 1024, 100}));
    const std::vector<uint8_t> in = readBytes(mp3);
    // The second chunk starts where the codec stopped using the first.
    EXPECT_TRUE(std::equal(driver.converts[1].bytes.begin(), driver.converts[1].bytes.end(), in.begin() + 1000));
    EXPECT_TRUE(std::equal(driver.converts[2].bytes.begin(), driver.converts[2].bytes.end(), in.begin() + 2000));
    const std::vector<uint8_t> out = readBytes(wav);
    ASSERT_EQ(out.size(), 44 + in.size());
    EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin() + 44));
}

TEST_F(Mp3ImportLoop, StopEndsAfterTheCurrentChunkWithACompleteHeader) {
    host.stop = true;  // cleared on entry
    host.stopAfterPumps = 1;
    const Mp3ImportResult r = convert(makeFile(5000));
    EXPECT_EQ(r.status, Mp3ImportStatus::Ok);
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(driver.converts.size(), 1u);
    WavData got;
    ASSERT_TRUE(ReadWAVFile(wav, got));
    EXPECT_EQ(got.byteCount, 1024);
    EXPECT_EQ(readBytes(wav).size(), 44u + 1024u);
    EXPECT_EQ(driver.calls[driver.calls.size() - 2], "reset");
}

TEST_F(Mp3ImportLoop, Id3v2TagAndZerosBeforeTheFrame) {
    // zeros, a tag of 20 bytes, zero padding, then the frame
    std::vector<uint8_t> prefix(7, 0);
    const uint8_t tag[10] = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
    prefix.insert(prefix.end(), tag, tag + 10);
    prefix.insert(prefix.end(), 20, uint8_t('x'));
    prefix.insert(prefix.end(), 5, uint8_t(0));
    const std::string mp3 = makeFile(3000, prefix);
    ASSERT_EQ(convert(mp3).status, Mp3ImportStatus::Ok);
    ASSERT_FALSE(driver.converts.empty());
    EXPECT_EQ(driver.converts[0].bytes[0], 0xFF);
    EXPECT_EQ(driver.converts[0].bytes[1], 0xFB);
    EXPECT_EQ(readBytes(wav).size(), 44u + 3000u - 42u);
}

TEST_F(Mp3ImportLoop, FrameSearchSkipsJunkAndUsesTheFrameParameters) {
    // junk, then MPEG-2.5 mono frames at 8000 Hz, 8 kbit/s (72 bytes each)
    const std::string mp3 = makeFile(1500, {0x12, 0xFF, 0x1F, 0x34}, {0xFF, 0xE2, 0x18, 0xC0});
    ASSERT_EQ(convert(mp3).status, Mp3ImportStatus::Ok);
    EXPECT_EQ(driver.converts[0].bytes[0], 0xFF);
    EXPECT_EQ(driver.converts[0].bytes[1], 0xE2);
    const FormatArea& in = driver.openedSource;
    EXPECT_EQ(wfx::channels(in), 1);
    EXPECT_EQ(wfx::samplesPerSec(in), 8000u);
    EXPECT_EQ(wfx::avgBytesPerSec(in), 1000u);  // 8 kbit/s
    EXPECT_EQ(wfx::bitsPerSample(in), 0);
    // No record matched: the stored fields remain.
    EXPECT_EQ(wfx::tag(in), 0x55);
    EXPECT_EQ(wfx::get16(in, wfx::kMp3BlockSize), 168);
    const FormatArea& out = driver.openedDestination;
    EXPECT_EQ(wfx::tag(out), 1);
    EXPECT_EQ(wfx::channels(out), 1);
    EXPECT_EQ(wfx::blockAlign(out), 2);
    EXPECT_EQ(wfx::avgBytesPerSec(out), 16000u);
    EXPECT_EQ(wfx::extraSize(out), 0);
}

TEST_F(Mp3ImportLoop, LastMatchingFormatWins) {
    formats.push_back(record(1, 44100, 16000, 5));
    formats.push_back(record(2, 44100, 16000, 6));
    formats.push_back(record(2, 48000, 16000, 7));
    ASSERT_EQ(convert(makeFile(900)).status, Mp3ImportStatus::Ok);
    EXPECT_EQ(wfx::get16(driver.openedSource, wfx::kMp3BlockSize), 6);
    EXPECT_EQ(wfx::get16(mp3wav.ACMFormatIn(), wfx::kMp3BlockSize), 6);  // kept for the next decoding
}

TEST_F(Mp3ImportLoop, RefusedChunksAreSkipped) {
    driver.convertResult = 512;
    EXPECT_EQ(convert(makeFile(3000)).status, Mp3ImportStatus::Ok);
    EXPECT_EQ(driver.converts.size(), 3u);
}

TEST_F(Mp3ImportLoop, FailureMessages) {
    Mp3FormatList none;
    Mp3ImportResult r = ConvertMP3WAV(makeFile(900), wav, none, mp3wav, host);
    EXPECT_EQ(r.status, Mp3ImportStatus::NoCodec);
    EXPECT_EQ(r.message, "Es ist kein Codec installiert, der eine MP3-Decodierung ermöglicht!");
    EXPECT_FALSE(std::filesystem::exists(wav));
    EXPECT_TRUE(host.progress.empty());

    r = convert(dir.file("missing.mp3"));
    EXPECT_EQ(r.status, Mp3ImportStatus::CannotOpenInput);
    EXPECT_EQ(r.message, "Konnte Datei nicht öffnen!");
    EXPECT_EQ(host.progress.back(), 0);

    r = ConvertMP3WAV(makeFile(900), dir.file("no/such/folder.wav"), formats, mp3wav, host);
    EXPECT_EQ(r.status, Mp3ImportStatus::CannotCreateOutput);
    EXPECT_EQ(r.message, "Konnte Ausgabedatei nicht erstellen! Den Ordner gibt es nicht.");
    EXPECT_TRUE(driver.calls.empty());
}

TEST_F(Mp3ImportLoop, ComponentErrorsEndTheDecodingAndRemoveTheWavFile) {
    writeBytes(wav, {});  // the temporary name exists already
    driver.openResult = 512;
    Mp3ImportResult r = convert(makeFile(3000));
    EXPECT_EQ(r.status, Mp3ImportStatus::ComponentError);
    EXPECT_EQ(r.message, "acmStreamOpen: The requested operation cannot be performed.");
    EXPECT_FALSE(std::filesystem::exists(wav));
    EXPECT_EQ(host.progress.back(), 0);

    driver.openResult = 0;
    driver.resetResult = 7;
    r = convert(makeFile(3000));
    EXPECT_EQ(r.status, Mp3ImportStatus::ComponentError);
    EXPECT_EQ(r.message, "acmStreamReset The system is unable to allocate resources.");
    EXPECT_FALSE(std::filesystem::exists(wav));
    EXPECT_FALSE(mp3wav.Active());
    EXPECT_EQ(driver.openStreams, 0);
}

TEST_F(Mp3ImportTools, MixedAndDamagedStreamsDecodeWithoutHarm) {
    const std::vector<uint8_t> mono = readBytes(makeMp3("m.mp3", 44100, 1, 1.0, "-b 64 -m m"));
    const std::vector<uint8_t> stereo = readBytes(makeMp3("s.mp3", 44100, 2, 1.0, "-b 128"));
    const std::vector<uint8_t> low = readBytes(makeMp3("l.mp3", 22050, 2, 1.0, "-b 32"));

    std::vector<std::vector<uint8_t>> inputs;
    std::vector<uint8_t> joined = mono;
    joined.insert(joined.end(), stereo.begin(), stereo.end());
    joined.insert(joined.end(), low.begin(), low.end());
    inputs.push_back(joined);
    // Every 700th byte flipped.
    std::vector<uint8_t> flipped = stereo;
    for (size_t i = 100; i < flipped.size(); i += 700) flipped[i] ^= 0x5A;
    inputs.push_back(flipped);
    // Random bytes with frame headers sprinkled in.
    std::vector<uint8_t> noise(60000);
    uint32_t x = 99;
    for (size_t i = 0; i < noise.size(); ++i) {
        x = x * 1103515245u + 12345u;
        noise[i] = uint8_t(x >> 16);
        if (i % 417 == 0 && i + 4 < noise.size()) {
            noise[i] = 0xFF;
            noise[i + 1] = 0xFB;
        }
    }
    inputs.push_back(noise);

    Importer imp;
    for (size_t k = 0; k < inputs.size(); ++k) {
        const std::string path = dir.file("mixed" + std::to_string(k) + ".mp3");
        writeBytes(path, inputs[k]);
        const std::string wav = dir.file("mixed" + std::to_string(k) + ".wav");
        const Mp3ImportResult r = imp.run(path, wav);
        if (k == 2) {
            // Random bytes with headers that lead nowhere: no stream.
            EXPECT_EQ(r.status, Mp3ImportStatus::CannotOpenInput);
            continue;
        }
        if (r.status != Mp3ImportStatus::Ok) {
            EXPECT_EQ(r.status, Mp3ImportStatus::ComponentError) << k;
            continue;
        }
        const std::vector<uint8_t> out = readBytes(wav);
        ASSERT_GE(out.size(), 44u) << k;
        // Whatever came out is whole frames of the stated format.
        EXPECT_EQ((out.size() - 44) % (out[22] == 2 ? 4 : 2), 0u) << k;
    }
    // The joined file: the first stream's format holds for all of it.
    WavData got;
    ASSERT_TRUE(ReadWAVFile(dir.file("mixed0.wav"), got));
    EXPECT_FALSE(got.stereo);
    EXPECT_EQ(got.sampleRate, 44100);
    EXPECT_GT(got.byteCount, 2 * 44100 * 2);
}

TEST_F(Mp3ImportLoop, ADecodingStartedFromTheMessagePumpIsRefused) {
    // The host's pump runs a second import, as a second open command would.
    struct NestingHost : RecordingHost {
        std::function<void()> nested;
        void ProcessMessages() override {
            RecordingHost::ProcessMessages();
            if (nested) {
                auto f = std::move(nested);
                nested = nullptr;
                f();
            }
        }
    } nesting;
    const std::string mp3 = makeFile(3000);
    Mp3ImportResult inner;
    nesting.nested = [&] { inner = ConvertMP3WAV(mp3, dir.file("inner.wav"), formats, mp3wav, nesting); };
    const Mp3ImportResult outer = ConvertMP3WAV(mp3, wav, formats, mp3wav, nesting);
    EXPECT_EQ(inner.status, Mp3ImportStatus::ComponentError);
    EXPECT_EQ(inner.message, "acmStreamOpen: The conversion stream is already in use.");
    EXPECT_EQ(outer.status, Mp3ImportStatus::Ok);
    EXPECT_EQ(readBytes(wav).size(), 44u + 3000u);
    EXPECT_EQ(driver.converts.size(), 3u);
}

TEST_F(Mp3ImportTools, ParallelDecodingsGiveTheSameBytes) {
    const std::string a = makeMp3("pa.mp3", 44100, 2, 1.5, "-b 128");
    const std::string b = makeMp3("pb.mp3", 22050, 1, 1.5, "-b 32 -m m");
    Mp3FormatList formats;
    OperationHost quiet;
    EnumerateMP3Formats(*MakeMpg123Decoder(), formats, quiet);
    auto decode = [&](const std::string& mp3, const std::string& wav) {
        const std::unique_ptr<Decoder> decoder = MakeMpg123Decoder();
        TACMConvertor conv(*decoder);
        OperationHost host;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(ConvertMP3WAV(mp3, wav, formats, conv, host).status, Mp3ImportStatus::Ok);
    };
    std::thread t1(decode, a, dir.file("pa.wav"));
    std::thread t2(decode, b, dir.file("pb.wav"));
    t1.join();
    t2.join();
    decode(a, dir.file("sa.wav"));
    decode(b, dir.file("sb.wav"));
    EXPECT_EQ(readBytes(dir.file("pa.wav")), readBytes(dir.file("sa.wav")));
    EXPECT_EQ(readBytes(dir.file("pb.wav")), readBytes(dir.file("sb.wav")));
}
