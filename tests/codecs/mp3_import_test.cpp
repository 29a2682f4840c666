#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "CodecTestUtil.h"
#include "support/FakeDecoder.h"
#include "codecs/Mp3Frame.h"
#include "codecs/Mp3Import.h"

using namespace notavox;
using namespace notavox::testing;

namespace {

std::vector<uint8_t> bytesOf(const AudioDocument& doc) {
    return std::vector<uint8_t>(doc.sampleData.get(), doc.sampleData.get() + doc.byteCount);
}

// The bytes of `mp3` that the import offers to a decoder.
std::vector<uint8_t> offeredBytes(const std::string& mp3) {
    FakeDecoder fake;
    OperationHost host;
    AudioDocument doc;
    EXPECT_EQ(DecodeMp3File(mp3, fake, host, doc).status, Mp3ImportStatus::Ok);
    std::vector<uint8_t> bytes;
    for (const auto& p : fake.pieces) bytes.insert(bytes.end(), p.begin(), p.end());
    return bytes;
}

// Decodes with the program's own decoder, as the main window does.
struct Importer {
    std::unique_ptr<Mp3Decoder> decoder = MakeMpg123Decoder();
    RecordingHost host;
    Mp3ImportResult run(const std::string& mp3, AudioDocument& doc) { return DecodeMp3File(mp3, *decoder, host, doc); }
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
        AudioDocument got;
        const Mp3ImportResult r = imp.run(mp3, got);
        ASSERT_EQ(r.status, Mp3ImportStatus::Ok) << r.message;
        EXPECT_TRUE(got.sixteenBit);
        EXPECT_EQ(got.sampleRate, rate);
        EXPECT_EQ(got.stereo, channels == 2);
        WavData want = reference(ref.empty() ? mp3 : ref);
        ASSERT_EQ(got.byteCount, want.byteCount) << mp3;
        EXPECT_EQ(std::memcmp(got.sampleData.get(), want.block.get(), size_t(got.byteCount)), 0) << mp3;
        EXPECT_EQ(imp.host.progress.back(), 0);
    }

    TempDir dir;
};

}  // namespace

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

    // The decoder gets the frames after the tag, to the end of the file.
    const std::vector<uint8_t> t = readBytes(tagged);
    const size_t size = size_t((t[6] & 0x7F) << 21 | (t[7] & 0x7F) << 14 | (t[8] & 0x7F) << 7 | (t[9] & 0x7F));
    const std::vector<uint8_t> offered = offeredBytes(tagged);
    ASSERT_LE(offered.size(), t.size() - 10 - size);
    EXPECT_TRUE(std::equal(offered.begin(), offered.end(), t.end() - std::ptrdiff_t(offered.size())));
    EXPECT_TRUE(IsValidMp3FrameHeader(offered.data()));
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

    EXPECT_EQ(offeredBytes(wrapped), data);  // the "data" chunk, not the pad byte or the chunk after it
    expectSameAsMpg123(wrapped, 44100, 2, mp3);
}

TEST_F(Mp3ImportTools, TruncatedFileDecodesWhatIsThere) {
    const std::string mp3 = makeMp3("full.mp3", 44100, 2, 2.0, "-b 128");
    std::vector<uint8_t> bytes = readBytes(mp3);
    bytes.resize(bytes.size() / 2 + 123);
    const std::string cut = dir.file("cut.mp3");
    writeBytes(cut, bytes);
    Importer imp;
    AudioDocument got;
    ASSERT_EQ(imp.run(cut, got).status, Mp3ImportStatus::Ok);
    const WavData want = reference(cut);
    // The last incomplete frame may or may not be given out; the rest matches.
    EXPECT_NEAR(got.byteCount, want.byteCount, 1152 * 4 * 2);
    EXPECT_EQ(std::memcmp(got.sampleData.get(), want.block.get(), size_t(std::min(got.byteCount, want.byteCount)) / 2), 0);
}

TEST_F(Mp3ImportTools, FileWithoutAFrameGivesNoRecording) {
    std::vector<uint8_t> junk(5000);
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = uint8_t((i * 37) & 0x7F);
    const std::string path = dir.file("junk.mp3");
    writeBytes(path, junk);
    Importer imp;
    AudioDocument doc;
    const Mp3ImportResult r = imp.run(path, doc);
    // Refused before anything is decoded.
    EXPECT_EQ(r.status, Mp3ImportStatus::CannotOpenInput);
    EXPECT_EQ(r.message, "Konnte Datei nicht öffnen!");
    EXPECT_EQ(doc.revision, 0u);
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
        AudioDocument doc;
        const Mp3ImportResult r = imp.run(path, doc);
        EXPECT_EQ(r.status, Mp3ImportStatus::CannotOpenInput) << path;
        EXPECT_EQ(doc.revision, 0u) << path;
    }

    // A song followed by random bytes decodes to the song alone.
    const std::string song = makeMp3("song.mp3", 44100, 2, 1.0, "-b 128");
    std::vector<uint8_t> tailed = readBytes(song);
    tailed.insert(tailed.end(), noise.begin(), noise.end());
    const std::string withTail = dir.file("tailed.mp3");
    writeBytes(withTail, tailed);
    AudioDocument clean, dirty;
    ASSERT_EQ(imp.run(song, clean).status, Mp3ImportStatus::Ok);
    ASSERT_EQ(imp.run(withTail, dirty).status, Mp3ImportStatus::Ok);
    EXPECT_EQ(bytesOf(dirty), bytesOf(clean));
}

// The chunk loop, driven through a fake decoder that gives out its input.
namespace {

class Mp3ImportLoop : public ::testing::Test {
protected:
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

    Mp3ImportResult convert(const std::string& mp3) { return DecodeMp3File(mp3, decoder, host, doc); }

    std::vector<size_t> lengths() const {
        std::vector<size_t> f;
        for (const auto& p : decoder.pieces) f.push_back(p.size());
        return f;
    }

    TempDir dir;
    FakeDecoder decoder;
    RecordingHost host;
    AudioDocument doc;
};

}  // namespace

TEST_F(Mp3ImportLoop, ChunksOfAKilobyteWithProgressIntoTheRecording) {
    const std::string mp3 = makeFile(2148);
    ASSERT_EQ(convert(mp3).status, Mp3ImportStatus::Ok);
    EXPECT_EQ(lengths(), (std::vector<size_t>{1024, 1024, 100}));
    EXPECT_EQ(host.progress, (std::vector<int32_t>{0, 47, 95, 100, 0}));
    EXPECT_EQ(host.pumps, 3);
    EXPECT_EQ(decoder.opens, 1);
    // The recording: exactly what the decoder gave out, 16-bit in the
    // stream's rate and channels.
    EXPECT_EQ(bytesOf(doc), readBytes(mp3));
    EXPECT_TRUE(doc.sixteenBit);
    EXPECT_TRUE(doc.stereo);
    EXPECT_EQ(doc.sampleRate, 44100);
}

TEST_F(Mp3ImportLoop, StopEndsAfterTheCurrentChunkWithWhatWasDecoded) {
    host.stop = true;  // cleared on entry
    host.stopAfterPumps = 1;
    const Mp3ImportResult r = convert(makeFile(5000));
    EXPECT_EQ(r.status, Mp3ImportStatus::Ok);
    EXPECT_EQ(decoder.pieces.size(), 1u);
    EXPECT_EQ(doc.byteCount, 1024);
}

TEST_F(Mp3ImportLoop, Id3v2TagAndZerosBeforeTheFrame) {
    // zeros, a tag of 20 bytes, zero padding, then the frame
    std::vector<uint8_t> prefix(7, 0);
    const uint8_t tag[10] = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
    prefix.insert(prefix.end(), tag, tag + 10);
    prefix.insert(prefix.end(), 20, uint8_t('x'));
    prefix.insert(prefix.end(), 5, uint8_t(0));
    ASSERT_EQ(convert(makeFile(3000, prefix)).status, Mp3ImportStatus::Ok);
    ASSERT_FALSE(decoder.pieces.empty());
    EXPECT_EQ(decoder.pieces[0][0], 0xFF);
    EXPECT_EQ(decoder.pieces[0][1], 0xFB);
    EXPECT_EQ(doc.byteCount, (3000 - 42) / 4 * 4);  // whole stereo frames
}

TEST_F(Mp3ImportLoop, FrameSearchSkipsJunkAndUsesTheFrameParameters) {
    // junk, then MPEG-2.5 mono frames at 8000 Hz, 8 kbit/s (72 bytes each)
    ASSERT_EQ(convert(makeFile(1500, {0x12, 0xFF, 0x1F, 0x34}, {0xFF, 0xE2, 0x18, 0xC0})).status,
              Mp3ImportStatus::Ok);
    EXPECT_EQ(decoder.pieces[0][0], 0xFF);
    EXPECT_EQ(decoder.pieces[0][1], 0xE2);
    EXPECT_EQ(decoder.openedChannels, 1);
    EXPECT_EQ(decoder.openedRate, 8000);
    EXPECT_FALSE(doc.stereo);
    EXPECT_EQ(doc.sampleRate, 8000);
}

TEST_F(Mp3ImportLoop, FailureMessagesLeaveTheRecording) {
    decoder.openOk = false;
    Mp3ImportResult r = convert(makeFile(900));
    EXPECT_EQ(r.status, Mp3ImportStatus::NoCodec);
    EXPECT_EQ(r.message, "Es ist kein Codec installiert, der eine MP3-Decodierung ermöglicht!");
    EXPECT_TRUE(decoder.pieces.empty());
    EXPECT_EQ(host.progress.back(), 0);

    r = convert(dir.file("missing.mp3"));
    EXPECT_EQ(r.status, Mp3ImportStatus::CannotOpenInput);
    EXPECT_EQ(r.message, "Konnte Datei nicht öffnen!");
    EXPECT_EQ(host.progress.back(), 0);
    EXPECT_EQ(doc.revision, 0u);
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
    AudioDocument docs[3];
    for (size_t k = 0; k < inputs.size(); ++k) {
        const std::string path = dir.file("mixed" + std::to_string(k) + ".mp3");
        writeBytes(path, inputs[k]);
        const Mp3ImportResult r = imp.run(path, docs[k]);
        if (k == 2) {
            // Random bytes with headers that lead nowhere: no stream.
            EXPECT_EQ(r.status, Mp3ImportStatus::CannotOpenInput);
            continue;
        }
        ASSERT_EQ(r.status, Mp3ImportStatus::Ok) << k;
        // Whatever came out is whole frames of the stated format.
        EXPECT_EQ(docs[k].byteCount % docs[k].bytesPerFrame(), 0) << k;
    }
    // The joined file: the first stream's format holds for all of it.
    EXPECT_FALSE(docs[0].stereo);
    EXPECT_EQ(docs[0].sampleRate, 44100);
    EXPECT_GT(docs[0].byteCount, 2 * 44100 * 2);
}

TEST_F(Mp3ImportTools, ParallelDecodingsGiveTheSameBytes) {
    const std::string a = makeMp3("pa.mp3", 44100, 2, 1.5, "-b 128");
    const std::string b = makeMp3("pb.mp3", 22050, 1, 1.5, "-b 32 -m m");
    auto decode = [](const std::string& mp3, std::vector<uint8_t>* bytes) {
        const std::unique_ptr<Mp3Decoder> decoder = MakeMpg123Decoder();
        OperationHost host;
        for (int i = 0; i < 3; ++i) {
            AudioDocument doc;
            EXPECT_EQ(DecodeMp3File(mp3, *decoder, host, doc).status, Mp3ImportStatus::Ok);
            *bytes = bytesOf(doc);
        }
    };
    std::vector<uint8_t> pa, pb, sa, sb;
    std::thread t1(decode, a, &pa);
    std::thread t2(decode, b, &pb);
    t1.join();
    t2.join();
    decode(a, &sa);
    decode(b, &sb);
    EXPECT_EQ(pa, sa);
    EXPECT_EQ(pb, sb);
}
