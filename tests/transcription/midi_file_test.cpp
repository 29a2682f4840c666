#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "transcription/MidiFile.h"

using namespace notavox;
using namespace notavox::testing;

namespace {
std::string hex(const std::string& s) {
    static const char* d = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (!out.empty()) out += ' ';
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}
std::string varLen(uint32_t v) {
    std::string s;
    WriteVarLen(s, v);
    return hex(s);
}
}  // namespace

TEST(WriteVarLen, StatedValues) {
    EXPECT_EQ(varLen(0), "00");
    EXPECT_EQ(varLen(127), "7F");
    EXPECT_EQ(varLen(128), "81 00");
    EXPECT_EQ(varLen(500), "83 74");
    EXPECT_EQ(varLen(16383), "FF 7F");
    EXPECT_EQ(varLen(16384), "81 80 00");
    EXPECT_EQ(varLen((1u << 28) - 1), "FF FF FF 7F");
    EXPECT_EQ(varLen(1u << 28), "81 80 80 80 00");
    EXPECT_EQ(varLen(0xFFFFFFFFu), "8F FF FF FF 7F");
}

TEST(SwapBytes, BigEndianInMemory) {
    const uint32_t a = SwapBytes32(0x01020304u);
    const uint16_t b = SwapBytes16(0x0102);
    const uint8_t* pa = reinterpret_cast<const uint8_t*>(&a);
    const uint8_t* pb = reinterpret_cast<const uint8_t*>(&b);
    EXPECT_EQ(pa[0], 1);
    EXPECT_EQ(pa[3], 4);
    EXPECT_EQ(pb[0], 1);
    EXPECT_EQ(pb[1], 2);
}

TEST(SaveAsMIDI, FileWithNoNoteIsTheWorkedExample) {
    Song song;
    MakeEditable(song);
    KonvertEditedTrack(song);
    std::string expected = "4D 54 68 64 00 00 00 06 00 01 00 10 01 F4 4D 54 72 6B 00 00 00 04 00 FF 2F 00";
    for (int i = 1; i < 16; ++i) {
        static const char* d = "0123456789ABCDEF";
        expected.append(" 4D 54 72 6B 00 00 00 07 00 C").append(1, d[i]).append(" 00 00 FF 2F 00");
    }
    EXPECT_EQ(hex(BuildMIDIFile(song)), expected);
    EXPECT_EQ(song.format, 1);
}

TEST(SaveAsMIDI, SingleTrackIsFormatZeroAndDataComesFromTheRightPlace) {
    Song song;
    DelAllTracks(song);
    TDynaArray& t = *song.addTrack();
    append(t, metaText(3, "Hallo", 128));
    NoteEvent tempo;
    std::memset(&tempo, 0, sizeof tempo);
    tempo.kind = kMetaEvent;
    tempo.metaType = 0x51;
    tempo.dataLength = 3;
    tempo.data.bytes[0] = 7;
    tempo.data.bytes[1] = 0xA1;
    tempo.data.bytes[2] = 0x20;
    append(t, tempo);
    append(t, detection(0, 60, 100, 0, 0));
    NoteEvent eot;
    std::memset(&eot, 0, sizeof eot);
    eot.kind = kMetaEvent;
    eot.metaType = kEndOfTrack;
    append(t, eot);
    EXPECT_EQ(hex(BuildMIDIFile(song)),
              "4D 54 68 64 00 00 00 06 00 00 00 01 01 F4 4D 54 72 6B 00 00 00 19 "
              "81 00 FF 03 05 48 61 6C 6C 6F 00 FF 51 03 07 A1 20 00 94 3C 64 00 FF 2F 00");
    EXPECT_EQ(song.format, 0);
}

TEST(SaveAsMIDI, LongTrackHasAllFourLengthBytes) {
    Song song;
    TDynaArray& t = *song.track(0);
    FreeListData(t);
    t.Clear();
    for (int i = 0; i < 30000; ++i) append(t, detection(0, uint8_t(i % 128), 100, 200, 0));  // 5 bytes each
    const std::string f = BuildMIDIFile(song);
    ASSERT_GT(f.size(), 150000u);
    EXPECT_EQ(hex(f.substr(14, 8)), "4D 54 72 6B 00 02 49 F0");  // 150000 = 0x249F0
}

TEST(SaveAsMIDI, FailedWriteLeavesTheOldFile) {
    const TempDir tmp;
    const std::string& dir = tmp.path();
    ASSERT_FALSE(dir.empty());
    Song song;
    EXPECT_FALSE(SaveAsMIDI(song, dir + "/missing/out.mid"));
    const std::string path = dir + "/old.mid";
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fputs("old", f);
    std::fclose(f);
    EXPECT_FALSE(SaveAsMIDI(song, dir));  // a folder is no file
    ASSERT_TRUE(SaveAsMIDI(song, path));
    EXPECT_EQ(readFile(path), BuildMIDIFile(song));
    if (geteuid() != 0) {
        ::chmod(dir.c_str(), 0500);
        EXPECT_FALSE(SaveAsMIDI(song, path));
        ::chmod(dir.c_str(), 0700);
        EXPECT_EQ(readFile(path), BuildMIDIFile(song));
    }
}
