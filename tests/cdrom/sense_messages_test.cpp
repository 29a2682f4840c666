#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cdrom/SenseMessages.h"

namespace notavox {
namespace {

// The ASC/ASCQ of an entry, read back from its octal key.
std::pair<int, int> pairOf(const char* entry) {
    auto octal = [](const char* p) { return (p[0] - '0') * 64 + (p[1] - '0') * 8 + (p[2] - '0'); };
    return {octal(entry + 1), octal(entry + 5)};
}

TEST(SenseMessages, TablesHaveTheirSizesAndWellFormedKeys) {
    EXPECT_EQ(kSenseKeyNames.size(), 16u);
    EXPECT_STREQ(kSenseKeyNames[0], "No Additional Sense");
    EXPECT_STREQ(kSenseKeyNames[5], "Illegal Request");
    EXPECT_STREQ(kSenseKeyNames[15], "Reserved");
    ASSERT_EQ(kAdditionalSenseTexts.size(), 310u);
    for (const char* e : kAdditionalSenseTexts) {
        ASSERT_GT(std::strlen(e), 8u) << e;
        EXPECT_EQ(e[0], '\\') << e;
        EXPECT_EQ(e[4], '\\') << e;
        for (int i : {1, 2, 3, 5, 6, 7}) EXPECT_TRUE(e[i] >= '0' && e[i] <= '7') << e;
        const std::string text(e + 8);
        for (char c : text) EXPECT_FALSE(c >= 'A' && c <= 'Z') << e;
    }
}

TEST(SenseMessages, EntriesFollowTheCodeOrderWithOneDoubleEntry) {
    int doubles = 0;
    for (size_t i = 1; i < kAdditionalSenseTexts.size(); ++i) {
        const auto prev = pairOf(kAdditionalSenseTexts[i - 1]);
        const auto cur = pairOf(kAdditionalSenseTexts[i]);
        EXPECT_LE(prev, cur) << kAdditionalSenseTexts[i];
        if (prev == cur) {
            ++doubles;
            EXPECT_EQ(cur, std::make_pair(0x40, 0x00));
        }
    }
    EXPECT_EQ(doubles, 1);
    // Spot checks of where runs of codes begin and end.
    EXPECT_EQ(pairOf(kAdditionalSenseTexts[0]), std::make_pair(0x00, 0x00));
    EXPECT_EQ(pairOf(kAdditionalSenseTexts[7]), std::make_pair(0x00, 0x11));
    EXPECT_EQ(pairOf(kAdditionalSenseTexts[309]), std::make_pair(0x80, 0x00));
    EXPECT_EQ(pairOf(kAdditionalSenseTexts[308]), std::make_pair(0x73, 0x05));
}

TEST(SenseMessages, ExampleEntriesAreThere) {
    const std::string all = [] {
        std::string s;
        for (const char* e : kAdditionalSenseTexts) s += std::string(e) + "\n";
        return s;
    }();
    for (const char* e : {R"(\000\000no additional sense information)", R"(\072\000medium not present)",
                          R"(\021\005l-ec uncorrectable error)", R"(\163\005program memory area is full)",
                          R"(\200\000start vendor unique)", R"(\100\000ram failure (should use 40 nn))",
                          R"(\100\000nn diagnostic failure on component nn (80h-ffh))"})
        EXPECT_NE(all.find(std::string(e) + "\n"), std::string::npos) << e;
}

TEST(SenseMessages, MessageJoinsKeyNameAndDescriptions) {
    EXPECT_EQ(geterrorMessage(2, 0x3A, 0x00), "Not Ready: medium not present");
    EXPECT_EQ(geterrorMessage(3, 0x11, 0x05), "Medium Error: l-ec uncorrectable error");
    EXPECT_EQ(geterrorMessage(4, 0x40, 0x00),
              "Hardware Error: ram failure (should use 40 nn) nn diagnostic failure on component nn (80h-ffh)");
    EXPECT_EQ(geterrorMessage(0, 0x00, 0x00), "No Additional Sense: no additional sense information");
    EXPECT_EQ(geterrorMessage(5, 0x5D, 0xFF), "Illegal Request: failure prediction threshold exceeded (false)");
}

TEST(SenseMessages, UnknownPairsAndFlaggedKeys) {
    EXPECT_EQ(geterrorMessage(6, 0x38, 0x00), "Unit Attention:");
    EXPECT_EQ(geterrorMessage(15, 0xFF, 0xFF), "Reserved:");
    // Sense byte 2 with flag bits set is not a key of the table.
    EXPECT_EQ(geterrorMessage(0x23, 0x3A, 0x00), "Fehler: medium not present");
    EXPECT_EQ(geterrorMessage(0x10, 0x99, 0x99), "Fehler:");
    EXPECT_EQ(geterrorMessage(0xFF, 0x00, 0x11), "Fehler: audio play operation in progress");
}

}  // namespace
}  // namespace notavox
