#include <gtest/gtest.h>

#include "codecs/ACMConvertor.h"
#include "codecs/Mp3Import.h"
#include "support/FakeDecoder.h"

using namespace notavox;
using notavox::testing::FakeDecoder;

namespace {

std::string raised(const std::function<void()>& f) {
    try {
        f();
    } catch (const EACMConvertor& e) {
        return e.what();
    }
    return "<nothing raised>";
}

}  // namespace

TEST(ACMConvertor, ConstructorValues) {
    FakeDecoder d;
    TACMConvertor c(d);
    EXPECT_FALSE(c.Active());
    EXPECT_FALSE(c.UseRealTime());
    EXPECT_EQ(c.InputBufferSize(), 2048u);
    for (const FormatArea* a : {&c.ACMFormatIn(), &c.ACMFormatOut()}) {
        EXPECT_EQ(wfx::tag(*a), 1);
        EXPECT_EQ(wfx::channels(*a), 1);
        EXPECT_EQ(wfx::samplesPerSec(*a), 22050u);
        EXPECT_EQ(wfx::avgBytesPerSec(*a), 22050u);
        EXPECT_EQ(wfx::blockAlign(*a), 1);
        EXPECT_EQ(wfx::bitsPerSample(*a), 8);
        EXPECT_EQ(wfx::extraSize(*a), 129);
    }
}

TEST(ACMConvertor, OpeningFillsTheHeaderAndBuffersOnce) {
    FakeDecoder d;
    d.destinationSize = 9000;
    TACMConvertor c(d);
    c.SetInputBufferSize(1024);
    c.SetActive(true);
    c.SetActive(true);
    EXPECT_EQ(d.calls, (std::vector<std::string>{"open", "size"}));
    EXPECT_FALSE(d.openedRealTime);
    ASSERT_TRUE(c.Active());
    EXPECT_EQ(c.DestinationBufferSize(), 9000u);
    const StreamHeader& h = c.Header();
    EXPECT_EQ(h.pbSrc, c.SourceBuffer());
    EXPECT_EQ(h.cbSrcLength, 1024u);
    EXPECT_EQ(h.cbSrcLengthUsed, 0u);
    EXPECT_EQ(h.pbDst, c.DestinationBuffer());
    EXPECT_EQ(h.cbDstLength, 9000u);
    EXPECT_EQ(h.cbDstLengthUsed, 0u);

    c.SetActive(false);
    c.SetActive(false);
    EXPECT_EQ(d.calls, (std::vector<std::string>{"open", "size", "close"}));
    EXPECT_FALSE(c.Active());
    EXPECT_EQ(c.SourceBuffer(), nullptr);
    EXPECT_EQ(c.DestinationBuffer(), nullptr);
}

TEST(ACMConvertor, InactiveComponentClosesNothingAndRealTimeOpensWithoutFlag) {
    FakeDecoder d;
    {
        TACMConvertor c(d);
        c.SetActive(false);
        EXPECT_TRUE(d.calls.empty());
        c.SetUseRealTime(true);
        c.SetActive(true);
        EXPECT_TRUE(d.openedRealTime);
    }
    // Destroying an active component closes its stream.
    EXPECT_EQ(d.calls.back(), "close");
    EXPECT_EQ(d.openStreams, 0);
}

TEST(ACMConvertor, PropertiesCannotChangeWhileActive) {
    FakeDecoder d;
    TACMConvertor c(d);
    c.SetActive(true);
    EXPECT_EQ(raised([&] { c.SetInputBufferSize(10); }), "You cannot change the buffer size while active.");
    EXPECT_EQ(raised([&] { c.SetUseRealTime(true); }), "You cannot change the real time flag while active.");
    EXPECT_EQ(c.InputBufferSize(), 2048u);
    EXPECT_FALSE(c.UseRealTime());
}

TEST(ACMConvertor, ResultTexts) {
    const std::pair<MMRESULT, const char*> table[] = {
        {5, " The specified handle is invalid."},
        {6, " A suitable driver is not available to provide valid format selections."},
        {7, " The system is unable to allocate resources."},
        {10, " At least one flag is invalid."},
        {11, " At least one parameter is invalid."},
        {512, " The requested operation cannot be performed."},
        {513, " The conversion stream is already in use."},
        {514, " Cannot perform this action on a header that has not been prepared."},
    };
    for (const auto& [code, text] : table)
        EXPECT_EQ(raised([&] { CheckACMResult("acmStreamConvert:", code); }), std::string("acmStreamConvert:") + text);
    EXPECT_EQ(raised([] { CheckACMResult("acmStreamOpen:", 99); }),
              "acmStreamOpen: raised an unknown error (code #99)");
    EXPECT_NO_THROW(CheckACMResult("x", 0));
}

TEST(ACMConvertor, FailuresOfEachOpeningStepRaiseTheirLabel) {
    {
        FakeDecoder d;
        d.openResult = 512;
        TACMConvertor c(d);
        EXPECT_EQ(raised([&] { c.SetActive(true); }), "acmStreamOpen: The requested operation cannot be performed.");
        EXPECT_FALSE(c.Active());
        EXPECT_EQ(d.calls, std::vector<std::string>{"open"});
    }
    {
        FakeDecoder d;
        d.sizeResult = 11;
        TACMConvertor c(d);
        EXPECT_EQ(raised([&] { c.SetActive(true); }), "acmStreamSize: At least one parameter is invalid.");
        EXPECT_FALSE(c.Active());
        EXPECT_EQ(d.openStreams, 0);  // the opened stream is not left behind
        EXPECT_EQ(c.SourceBuffer(), nullptr);
        EXPECT_EQ(c.DestinationBuffer(), nullptr);
    }
}

TEST(ACMConvertor, FailureOfClosingRaisesButLeavesTheComponentInactive) {
    FakeDecoder d;
    TACMConvertor c(d);
    d.closeResult = 5;
    c.SetActive(true);
    EXPECT_EQ(raised([&] { c.SetActive(false); }), "acmStreamClose: The specified handle is invalid.");
    EXPECT_FALSE(c.Active());
}

TEST(ACMConvertor, BinaryPropertyRoundTrip) {
    FakeDecoder d;
    TACMConvertor a(d), b(d);
    for (size_t i = 0; i < kFormatAreaSize; ++i) a.ACMFormatIn()[i] = uint8_t(i * 7 + 3);
    const std::vector<uint8_t> stored = a.WriteACMFormatIn();
    ASSERT_EQ(stored.size(), 133u);
    EXPECT_EQ(stored[0], 129);
    EXPECT_EQ(stored[1] | stored[2] | stored[3], 0);
    ASSERT_TRUE(b.ReadACMFormatIn(stored));
    EXPECT_EQ(b.ACMFormatIn(), a.ACMFormatIn());
    EXPECT_EQ(b.WriteACMFormatIn(), stored);
}

TEST(ACMConvertor, StoredLengthBeyondTheAreaIsRefused) {
    FakeDecoder d;
    TACMConvertor c(d);
    const FormatArea before = c.ACMFormatOut();
    std::vector<uint8_t> data(4 + 200, 0xAA);
    data[0] = 200;
    data[1] = data[2] = data[3] = 0;
    EXPECT_FALSE(c.ReadACMFormatOut(data));
    data[0] = 129;
    data.resize(4 + 100);  // shorter than it says
    EXPECT_FALSE(c.ReadACMFormatOut(data));
    EXPECT_EQ(c.ACMFormatOut(), before);
    // A shorter stored record fills only its own bytes.
    std::vector<uint8_t> shortRecord = {2, 0, 0, 0, 0x55, 0x00};
    EXPECT_TRUE(c.ReadACMFormatOut(shortRecord));
    EXPECT_EQ(wfx::tag(c.ACMFormatOut()), 0x55);
    EXPECT_EQ(wfx::channels(c.ACMFormatOut()), 1);
}

TEST(ACMConvertor, StoredMainWindowValues) {
    FakeDecoder d;
    TACMConvertor c(d);
    LoadStoredMp3wavProperties(c);
    EXPECT_EQ(c.InputBufferSize(), 2048u);
    const uint8_t in[] = {0x55, 0, 2, 0, 0xC0, 0x5D, 0, 0, 0x58, 0x1B, 0, 0, 1, 0, 0, 0,
                          12, 0, 1, 0, 2, 0, 0, 0, 168, 0, 1, 0, 0x71, 0x05};
    const uint8_t out[] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 129, 0};
    FormatArea expectIn{}, expectOut{};
    std::copy(std::begin(in), std::end(in), expectIn.begin());
    std::copy(std::begin(out), std::end(out), expectOut.begin());
    EXPECT_EQ(c.ACMFormatIn(), expectIn);
    EXPECT_EQ(c.ACMFormatOut(), expectOut);
    EXPECT_EQ(c.WriteACMFormatIn(), StoredACMFormatIn());
}
