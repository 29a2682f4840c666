#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "CodecTestUtil.h"
#include "support/FakeEncoder.h"
#include "codecs/Mp3Export.h"
#include "codecs/Mp3Frame.h"

using namespace notavox;
using namespace notavox::testing;

namespace {

// A recording of a two-tone signal in the given format.
AudioDocument makeDocument(int32_t rate, bool stereo, bool sixteenBit, double seconds) {
    AudioDocument doc;
    const int32_t frames = int32_t(rate * seconds);
    const int channels = stereo ? 2 : 1;
    const int32_t bytes = frames * channels * (sixteenBit ? 2 : 1);
    SampleBlock block = allocateBlock(size_t(bytes));
    for (int32_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double v = 0.4 * std::sin(2 * M_PI * (c ? 660.0 : 440.0) * i / rate);
            const int16_t s = int16_t(std::lround(v * 32767));
            const int32_t k = i * channels + c;
            if (sixteenBit)
                std::memcpy(block.get() + 2 * k, &s, 2);
            else
                block[size_t(k)] = level16To8(s);
        }
    }
    doc.replace(std::move(block), bytes, rate, stereo, sixteenBit);
    return doc;
}

}  // namespace

TEST(Mp3Export, ChunksOf2500ValuesWithProgress) {
    TempDir dir;
    AudioDocument doc = makeDocument(44100, true, true, 0);
    SampleBlock block = allocateBlock(12000);
    for (int i = 0; i < 6000; ++i) {
        const int16_t v = int16_t(i - 3000);
        std::memcpy(block.get() + 2 * i, &v, 2);
    }
    doc.replace(std::move(block), 12000, 44100, true, true);
    FakeEncoder enc;
    RecordingHost host;
    const std::string out = dir.file("a.mp3");
    const Mp3ExportResult r = SaveAsMP3File(out, doc, 32000, 112, host, enc);
    ASSERT_EQ(r.status, Mp3ExportStatus::Ok);
    EXPECT_EQ(enc.counts, (std::vector<uint32_t>{2500, 2500, 1000}));
    EXPECT_EQ(host.progress, (std::vector<int32_t>{0, 41, 83, 0}));
    EXPECT_EQ(enc.values.size(), 6000u);
    EXPECT_EQ(enc.values.front(), -3000);
    EXPECT_EQ(enc.values.back(), 2999);
    EXPECT_EQ(enc.calls, (std::vector<std::string>{"open", "encode", "encode", "encode", "flush"}));
    EXPECT_EQ(enc.settings.inputRate, 44100);
    EXPECT_EQ(enc.settings.outputRate, 32000);
    EXPECT_EQ(enc.settings.bitRate, 112);
    EXPECT_TRUE(enc.settings.stereo);
    const std::vector<uint8_t> bytes = readBytes(out);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "cccEND");
}

TEST(Mp3Export, EightBitValuesAreWidened) {
    TempDir dir;
    AudioDocument doc;
    SampleBlock block = allocateBlock(2600);
    for (int i = 0; i < 2600; ++i) block[size_t(i)] = uint8_t(i % 3 == 0 ? 0 : i % 3 == 1 ? 128 : 255);
    doc.replace(std::move(block), 2600, 8000, false, false);
    FakeEncoder enc;
    RecordingHost host;
    ASSERT_EQ(SaveAsMP3File(dir.file("b.mp3"), doc, 11025, 8, host, enc).status, Mp3ExportStatus::Ok);
    EXPECT_EQ(enc.counts, (std::vector<uint32_t>{2500, 100}));  // 5200 bytes of 16-bit values
    ASSERT_EQ(enc.values.size(), 2600u);
    EXPECT_EQ(enc.values[0], -32768);
    EXPECT_EQ(enc.values[1], 0);
    EXPECT_EQ(enc.values[2], 32512);
    EXPECT_EQ(enc.values[2599], 0);
    EXPECT_FALSE(enc.settings.stereo);
    EXPECT_EQ(host.progress, (std::vector<int32_t>{0, 96, 0}));
}

TEST(Mp3Export, EmptyRecordingWritesOnlyTheFlush) {
    TempDir dir;
    AudioDocument doc;
    FakeEncoder enc;
    RecordingHost host;
    ASSERT_EQ(SaveAsMP3File(dir.file("e.mp3"), doc, 44100, 128, host, enc).status, Mp3ExportStatus::Ok);
    EXPECT_TRUE(enc.counts.empty());
    EXPECT_EQ(readBytes(dir.file("e.mp3")), (std::vector<uint8_t>{'E', 'N', 'D'}));
    EXPECT_EQ(host.progress, std::vector<int32_t>{0});
}

TEST(Mp3Export, FailuresLeaveTheDestinationUntouched) {
    TempDir dir;
    const std::string out = dir.file("keep.mp3");
    writeBytes(out, {'o', 'l', 'd'});
    AudioDocument doc = makeDocument(44100, false, true, 0.5);
    RecordingHost host;
    {
        FakeEncoder enc;
        enc.openOk = false;
        const Mp3ExportResult r = SaveAsMP3File(out, doc, 44100, 128, host, enc);
        EXPECT_EQ(r.status, Mp3ExportStatus::CannotInitEncoder);
        EXPECT_EQ(r.message, "Konnte LAME Encoder nicht initialisieren...");
        EXPECT_EQ(enc.calls, std::vector<std::string>{"open"});
    }
    for (const bool inTheFlush : {false, true}) {
        FakeEncoder enc;
        if (inTheFlush)
            enc.flushOk = false;
        else
            enc.failAtChunk = 2;
        const Mp3ExportResult r = SaveAsMP3File(out, doc, 44100, 128, host, enc);
        EXPECT_EQ(r.status, Mp3ExportStatus::EncodingFailed);
        EXPECT_EQ(r.message, inTheFlush ? "Echec à la sortie" : "Fehler beim MP3 Codieren");
        EXPECT_EQ(enc.calls.back(), inTheFlush ? "flush" : "encode");  // nothing after the failure
        EXPECT_EQ(host.progress.back(), 0);
    }
    EXPECT_EQ(readBytes(out), (std::vector<uint8_t>{'o', 'l', 'd'}));
    FakeEncoder enc;
    const Mp3ExportResult r = SaveAsMP3File(dir.file("no/folder.mp3"), doc, 44100, 128, host, enc);
    EXPECT_EQ(r.status, Mp3ExportStatus::CannotCreate);
    EXPECT_EQ(r.message, "Konnte Datei nicht erstellen...");
    EXPECT_TRUE(enc.calls.empty());
    // Only the program's own leftovers would show up here.
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 1u);
}

// MPEG-1 from 32000 Hz, MPEG-2 from 16000 Hz, MPEG-2.5 up to 64 kbit/s below.
TEST(Mp3Export, BitRateTheOutputRateDoesNotAllowIsRefused) {
    TempDir dir;
    AudioDocument doc = makeDocument(44100, false, true, 0.1);
    RecordingHost host;
    FakeEncoder enc;
    const Mp3ExportResult r = SaveAsMP3File(dir.file("a.mp3"), doc, 11025, 80, host, enc);
    EXPECT_EQ(r.status, Mp3ExportStatus::BitRateNotAllowed);
    EXPECT_EQ(r.message, "Bei 11025 Hz sind nur diese Bitraten möglich: 8, 16, 24, 32, 40, 48, 56, 64 kBit/s.");
    EXPECT_EQ(SaveAsMP3File(dir.file("b.mp3"), doc, 44100, 144, host, enc).status, Mp3ExportStatus::BitRateNotAllowed);
    EXPECT_TRUE(enc.calls.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.mp3")));
    EXPECT_EQ(SaveAsMP3File(dir.file("c.mp3"), doc, 22050, 144, host, enc).status, Mp3ExportStatus::Ok);
}

TEST(Mp3Export, RealEncoderRefusesARateOfZero) {
    TempDir dir;
    AudioDocument doc = makeDocument(44100, false, true, 0.1);
    doc.sampleRate = 0;
    RecordingHost host;
    EXPECT_EQ(SaveAsMP3File(dir.file("z.mp3"), doc, 44100, 128, host, *MakeLameEncoder()).status, Mp3ExportStatus::CannotInitEncoder);
    EXPECT_FALSE(std::filesystem::exists(dir.file("z.mp3")));
}

// Every recording format and both modes through the real encoder; the frame
// headers are read with our own parser and the file is decoded by mpg123.
TEST(Mp3ExportTools, OutputFramesAndDecodedLength) {
    if (!haveTool("mpg123")) GTEST_SKIP() << "mpg123 missing";
    TempDir dir;
    struct Case {
        int32_t inRate;
        bool stereo, sixteenBit;
        int32_t outRate, bitRate;
        int version;
    };
    const Case cases[] = {
        {44100, true, true, 44100, 128, 3},  {44100, false, true, 48000, 160, 3},
        {22050, true, false, 44100, 64, 3},  {8000, false, false, 22050, 32, 2},
        {48000, true, true, 16000, 24, 2},   {11025, true, true, 11025, 8, 0},
        {32000, false, true, 24000, 144, 2}, {44100, true, false, 32000, 40, 3},
        {16000, false, true, 12000, 16, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.inRate << (c.stereo ? " stereo " : " mono ")
                                          << (c.sixteenBit ? 16 : 8) << " -> " << c.outRate << "/" << c.bitRate);
        const double seconds = 1.5;
        AudioDocument doc = makeDocument(c.inRate, c.stereo, c.sixteenBit, seconds);
        const std::string mp3 = dir.file("t" + std::to_string(n++) + ".mp3");
        RecordingHost host;
        ASSERT_EQ(SaveAsMP3File(mp3, doc, c.outRate, c.bitRate, host, *MakeLameEncoder()).status, Mp3ExportStatus::Ok);
        const std::vector<uint8_t> bytes = readBytes(mp3);
        ASSERT_GT(bytes.size(), 4u);
        ASSERT_TRUE(IsValidMp3FrameHeader(bytes.data()));
        const Mp3FrameHeader f = ParseMp3FrameHeader(bytes.data());
        EXPECT_EQ(f.version, c.version);
        EXPECT_EQ(f.layer, 1);
        EXPECT_EQ(Mp3BitRate(f), c.bitRate);
        EXPECT_EQ(Mp3SampleRate(f), c.outRate);
        EXPECT_EQ(f.channelMode, c.stereo ? 0 : 3);
        EXPECT_EQ(bytes[1] & 1, 1);        // no CRC
        EXPECT_EQ(bytes[3] & 0x0C, 0x0C);  // the copyright and original bits
        // Constant bit rate without a VBR/Info frame: every frame has the same rate.
        const std::string text(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 200));
        EXPECT_EQ(text.find("Xing"), std::string::npos);
        EXPECT_EQ(text.find("Info"), std::string::npos);
        const std::string wav = mp3 + ".wav";
        ASSERT_TRUE(runQuietly("mpg123 -q -w '" + wav + "' '" + mp3 + "'"));
        WavData dec;
        ASSERT_TRUE(ReadWAVFile(wav, dec));
        EXPECT_EQ(dec.sampleRate, c.outRate);
        EXPECT_EQ(dec.stereo, c.stereo);
        const int64_t frames = dec.byteCount / (c.stereo ? 4 : 2);
        const int64_t expected = int64_t(seconds * c.outRate);
        const int64_t frameLen = c.version == 3 ? 1152 : 576;
        EXPECT_GE(frames, expected);
        EXPECT_LE(frames, expected + 4 * frameLen + 2400);
    }
}

TEST(Mp3ExportTools, EveryFrameHasTheChosenBitRate) {
    TempDir dir;
    AudioDocument doc = makeDocument(44100, true, true, 2.0);
    RecordingHost host;
    const std::string mp3 = dir.file("cbr.mp3");
    ASSERT_EQ(SaveAsMP3File(mp3, doc, 44100, 96, host, *MakeLameEncoder()).status, Mp3ExportStatus::Ok);
    const std::vector<uint8_t> b = readBytes(mp3);
    size_t pos = 0;
    int frames = 0;
    while (pos + 4 <= b.size()) {
        ASSERT_TRUE(IsValidMp3FrameHeader(&b[pos])) << "at " << pos;
        const Mp3FrameHeader f = ParseMp3FrameHeader(&b[pos]);
        ASSERT_EQ(Mp3BitRate(f), 96);
        pos += size_t(144 * 96000 / 44100 + (f.padding ? 1 : 0));
        ++frames;
    }
    EXPECT_EQ(pos, b.size());
    EXPECT_GE(frames, int(2.0 * 44100 / 1152));
}
