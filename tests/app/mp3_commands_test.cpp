#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/MainUnit.h"
#include "audio/WavFile.h"
#include "cdrom/SgTransport.h"
#include "codecs/Mp3Encoder.h"
#include "codecs/Mp3Export.h"
#include "codecs/Mp3Frame.h"
#include "support/FakeDecoder.h"
#include "support/FakeEncoder.h"
#include "support/FakePrompts.h"
#include "support/FakeSoundDevice.h"
#include "support/Files.h"
#include "support/TempDir.h"

using namespace notavox;
using notavox::testing::FakePrompts;
using notavox::testing::TempDir;
using namespace notavox::testing;

namespace {

bool haveTools() { return haveTool("lame") && haveTool("mpg123") && haveTool("sox"); }

// Temporary files would go into the test's own folder: an import leaves none.
class Mp3Commands : public ::testing::Test {
protected:
    // The form with the real decoder and encoder unless others are given.
    std::unique_ptr<TMainForm> makeForm(Mp3Decoder* decoder = nullptr, Mp3Encoder* encoder = nullptr) {
        MainFormServices s;
        s.prompts = &prompts;
        s.sound = &sound;  // no sound system needed
        s.decoder = decoder ? decoder : realDecoder.get();
        s.mp3Encoder = encoder ? encoder : realEncoder.get();
        s.cdTransport = &drives;
        return std::make_unique<TMainForm>(s);
    }

    bool tempFolderEmpty() const { return std::filesystem::is_empty(tmp.path()); }

    std::string makeMp3(const std::string& name, const std::string& lameArgs) {
        const std::string wav = dir.file(name + ".src.wav");
        const std::string mp3 = dir.file(name);
        EXPECT_TRUE(runQuietly("sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth 1.2 sine 440 sine 550 vol 0.5"));
        EXPECT_TRUE(runQuietly("lame --quiet " + lameArgs + " '" + wav + "' '" + mp3 + "'"));
        return mp3;
    }

    void loadRecording(TMainForm& m, int32_t rate, bool stereo, int32_t frames) {
        const int32_t bytes = frames * (stereo ? 4 : 2);
        SampleBlock block = allocateBlock(size_t(bytes));
        for (int32_t i = 0; i < bytes / 2; ++i) {
            const int16_t v = int16_t((i * 37) % 20000 - 10000);
            std::memcpy(block.get() + 2 * i, &v, 2);
        }
        m.document.replace(std::move(block), bytes, rate, stereo, true);
        m.RecordingOpened(QString());
    }

    TempDir dir, tmp;
    FakePrompts prompts;
    notavox::testing::FakeSoundDevice sound;
    std::unique_ptr<Mp3Decoder> realDecoder = MakeMpg123Decoder();
    std::unique_ptr<Mp3Encoder> realEncoder = MakeLameEncoder();
    SgTransport drives;
    TmpdirOverride tmpdir{tmp.path()};
};

}  // namespace

TEST_F(Mp3Commands, StartUpSelectsTheMp3Defaults) {
    auto form = makeForm();
    EXPECT_EQ(form->mp3format->currentText(), "44100");
    EXPECT_EQ(form->BitRate->currentText(), "128");
}

TEST_F(Mp3Commands, OpeningAnMp3FileInAnyCaseDecodesIt) {
    if (!haveTools()) GTEST_SKIP() << "lame, mpg123 or sox missing";
    const std::string mp3 = makeMp3("Lied mit Ümlaut.Mp3", "-b 128 --id3v2-only --tt Lied");
    ASSERT_TRUE(runQuietly("mpg123 -q -w '" + dir.file("ref.wav") + "' '" + mp3 + "'"));
    WavData ref;
    ASSERT_TRUE(ReadWAVFile(dir.file("ref.wav"), ref));

    auto form = makeForm();
    TMainForm& m = *form;
    m.document.selectionStart = 3;
    m.document.selectionEnd = 7;
    prompts.answerFile(q(mp3));
    m.OpenBtn->click();
    EXPECT_TRUE(prompts.messages.empty()) << prompts.messageTexts().join("; ").toStdString();
    ASSERT_EQ(m.document.byteCount, ref.byteCount);
    EXPECT_EQ(std::memcmp(m.document.sampleData.get(), ref.block.get(), size_t(ref.byteCount)), 0);
    EXPECT_EQ(m.document.sampleRate, 44100);
    EXPECT_TRUE(m.document.stereo);
    EXPECT_TRUE(m.document.sixteenBit);
    EXPECT_EQ(m.document.selectionStart, 0);
    EXPECT_EQ(m.document.selectionEnd, 0);
    EXPECT_EQ(m.progressPercent, 0);
    EXPECT_FALSE(m.stopRequested());
    EXPECT_TRUE(tempFolderEmpty());  // decoded in memory: no file on the way
}

TEST_F(Mp3Commands, OpenFailuresShowTheDecodingMessageThenTheOpenMessage) {
    notavox::testing::FakeDecoder noCodecs;
    noCodecs.openOk = false;
    {
        auto form = makeForm(&noCodecs);
        // Three frames of MPEG-1 Layer III, 128 kbit/s, 44100 Hz.
        std::vector<char> frames(3 * 417, 0);
        for (size_t at = 0; at < frames.size(); at += 417) {
            frames[at] = char(0xFF);
            frames[at + 1] = char(0xFB);
            frames[at + 2] = char(0x90);
            frames[at + 3] = char(0x64);
        }
        std::ofstream(dir.file("a.mp3"), std::ios::binary).write(frames.data(), std::streamsize(frames.size()));
        prompts.answerFile(q(dir.file("a.mp3")));
        form->OpenBtn->click();
        ASSERT_EQ(prompts.messages.size(), 2u);
        EXPECT_EQ(prompts.messages[0].text, "Es ist kein Codec installiert, der eine MP3-Decodierung ermöglicht!");
        EXPECT_EQ(prompts.messages[0].icon, MsgIcon::Error);
        EXPECT_EQ(prompts.messages[0].buttons, MB_OK);
        EXPECT_TRUE(prompts.messages[0].caption.isEmpty());
        EXPECT_EQ(prompts.messages[1].text, "Konnte Datei nicht öffnen");
        EXPECT_TRUE(tempFolderEmpty());
    }
    prompts.messages.clear();
    auto form = makeForm();
    loadRecording(*form, 8000, false, 100);
    prompts.answerFile(q(dir.file("fehlt.MP3")));
    form->OpenBtn->click();
    EXPECT_EQ(prompts.messageTexts(), (QStringList{"Konnte Datei nicht öffnen!", "Konnte Datei nicht öffnen"}));
    EXPECT_EQ(form->document.byteCount, 200);  // the old recording stays
    EXPECT_EQ(form->document.sampleRate, 8000);
    EXPECT_TRUE(tempFolderEmpty());

    // A file without any frame: the codec refuses it or decodes nothing.
    prompts.messages.clear();
    std::vector<uint8_t> junk(3000);
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = uint8_t((i * 29) & 0x7F);
    std::ofstream(dir.file("junk.mp3"), std::ios::binary).write(reinterpret_cast<const char*>(junk.data()), 3000);
    prompts.answerFile(q(dir.file("junk.mp3")));
    form->OpenBtn->click();
    ASSERT_FALSE(prompts.messages.empty());
    EXPECT_EQ(prompts.messages.back().text, "Konnte Datei nicht öffnen");
    EXPECT_EQ(form->document.byteCount, 200);
    EXPECT_TRUE(tempFolderEmpty());
}

TEST_F(Mp3Commands, SavingAsMp3UsesTheMp3AusgabeSettings) {
    if (!haveTools()) GTEST_SKIP() << "lame, mpg123 or sox missing";
    auto form = makeForm();
    TMainForm& m = *form;
    loadRecording(m, 44100, true, 44100);
    m.mp3format->setCurrentIndex(m.mp3format->findText("22050"));
    m.BitRate->setCurrentIndex(m.BitRate->findText("64"));
    prompts.answerFile(q(dir.file("Ausgabe")), 1);
    m.SaveBtn->click();
    EXPECT_TRUE(prompts.messages.empty());
    const std::string out = dir.file("Ausgabe.mp3");
    const std::vector<uint8_t> bytes = readBytes(out);
    ASSERT_GT(bytes.size(), 4u);
    ASSERT_TRUE(IsValidMp3FrameHeader(bytes.data()));
    const Mp3FrameHeader f = ParseMp3FrameHeader(bytes.data());
    EXPECT_EQ(Mp3SampleRate(f), 22050);
    EXPECT_EQ(Mp3BitRate(f), 64);
    EXPECT_EQ(f.channelMode, 0);
    EXPECT_EQ(m.progressPercent, 0);

    ASSERT_TRUE(runQuietly("mpg123 -q -w '" + dir.file("dec.wav") + "' '" + out + "'"));
    WavData dec;
    ASSERT_TRUE(ReadWAVFile(dir.file("dec.wav"), dec));
    EXPECT_EQ(dec.sampleRate, 22050);
    EXPECT_TRUE(dec.stereo);

    // The saved file opens again through the MP3 path.
    prompts.answerFile(q(out));
    m.OpenBtn->click();
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(m.document.sampleRate, 22050);
    EXPECT_TRUE(m.document.stereo);
    EXPECT_NEAR(m.document.frameCount(), 22050, 3 * 1152);
}

TEST_F(Mp3Commands, EncoderFailuresShowTheirTexts) {
    notavox::testing::FakeEncoder enc;
    enc.openOk = false;
    auto form = makeForm(nullptr, &enc);
    TMainForm& m = *form;
    loadRecording(m, 44100, false, 10000);
    const std::string out = dir.file("x.mp3");
    prompts.answerFile(q(out), 1);
    m.SaveBtn->click();
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Konnte LAME Encoder nicht initialisieren...");
    EXPECT_EQ(prompts.messages[0].icon, MsgIcon::None);
    EXPECT_EQ(prompts.messages[0].buttons, MB_OK);
    EXPECT_FALSE(std::filesystem::exists(out));

    prompts.messages.clear();
    enc.openOk = true;
    enc.failAtChunk = 0;
    prompts.answerFile(q(out), 1);
    m.SaveBtn->click();
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Fehler beim MP3 Codieren");
    EXPECT_EQ(prompts.messages[0].icon, MsgIcon::Error);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(m.progressPercent, 0);
    EXPECT_EQ(m.document.byteCount, 20000);

    prompts.messages.clear();
    prompts.answerFile(q(dir.file("kein/Ordner.mp3")), 1);
    m.SaveBtn->click();
    ASSERT_EQ(prompts.messages.size(), 1u);
    // The fixed text, and below it the cause.
    EXPECT_EQ(prompts.messages[0].text, "Konnte Datei nicht erstellen...\nDen Ordner gibt es nicht.");
    EXPECT_EQ(prompts.messages[0].icon, MsgIcon::None);
}

// 48000 Hz at 8 kbit/s cannot be encoded: the window says which bit rates
// that rate allows instead of writing another one.
TEST_F(Mp3Commands, BitRateTheOutputRateDoesNotAllowIsTold) {
    auto form = makeForm();
    TMainForm& m = *form;
    loadRecording(m, 44100, false, 10000);
    m.mp3format->setCurrentIndex(m.mp3format->findText("48000"));
    m.BitRate->setCurrentIndex(m.BitRate->findText("8"));
    const std::string out = dir.file("x.mp3");
    prompts.answerFile(q(out), 1);
    m.SaveBtn->click();
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text,
              "Bei 48000 Hz sind nur diese Bitraten möglich: 32, 40, 48, 56, 64, 80, 96, 112, 128, 160 kBit/s.");
    EXPECT_FALSE(std::filesystem::exists(out));
}
