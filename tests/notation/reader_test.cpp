// The scores as the notation program reads them: mscore3 opens each file
// headless (plain and compressed) without a message, writes a PDF, and its
// own MusicXML of the score keeps the bars and every note's staff, pitch,
// onset and duration. One run of the program for all files, since it is
// slow to start.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "notation/MusicXml.h"
#include "notation/Score.h"
#include "notation/ScoreReader.h"
#include "support/Files.h"
#include "support/TempDir.h"

using namespace notavox;
using namespace notavox::notation;
using namespace notavox::testing;

namespace {

constexpr int kTpq = 480;

void Add(ScoreInput& in, int pitch, double on, double length) {
    in.notes.push_back({pitch, int64_t(on * kTpq + 0.5), int64_t((on + length) * kTpq + 0.5), 80});
}

// Two hands in D flat major: chords, ties over bar lines and beats, a
// held note under a moving line, triplets, rests, a change to 3/4 and a
// faster tempo.
ScoreInput PianoPiece() {
    ScoreInput in;
    in.ticksPerQuarter = kTpq;
    in.fifths = -5;
    in.metres = {{0, 4, 4}, {8 * kTpq, 3, 4}};
    std::vector<int64_t> ticks{0}, micros{0};
    for (int q = 1; q <= 20; ++q) {
        ticks.push_back(int64_t(q) * kTpq);
        micros.push_back(micros.back() + (q <= 8 ? 600000 : 450000));
    }
    in.tempo = TempoMap(kTpq, ticks, micros);
    const int melody[] = {73, 75, 77, 78, 80, 78, 77, 75, 73, 72, 70, 66};
    for (int i = 0; i < 6; ++i) Add(in, melody[i], i, 1);
    Add(in, 80, 5.5, 1.5);                                            // over beat 4
    Add(in, 82, 7, 2);                                                // over the bar line
    for (int i = 0; i < 3; ++i) Add(in, melody[6 + i], 9 + i / 3.0, 1.0 / 3);  // a triplet
    Add(in, 73, 10, 2);
    Add(in, 77, 10, 1);
    Add(in, 78, 11, 1);                                               // two voices
    for (int i = 0; i < 3; ++i) Add(in, melody[9 + i], 12 + i * 0.5, 0.5);
    // The left hand: chords and a bass line.
    Add(in, 49, 0, 2);
    Add(in, 56, 0, 2);
    Add(in, 61, 0, 2);
    Add(in, 54, 2, 2);
    Add(in, 42, 4, 4);
    Add(in, 44, 8, 1);
    Add(in, 46, 9, 2);  // a half note from the beat of the triplets: no triplet itself
    for (int i = 3; i < 6; ++i) Add(in, 44 + (i % 3) * 2, 8 + i, 1);
    Add(in, 37, 14, 0.25);
    for (int i = 0; i < 6; ++i) Add(in, 78 + i % 3, 14 + i / 6.0, 1.0 / 6);  // sixteenth triplets
    for (int i = 0; i < 8; ++i) Add(in, 80 - i, 15 + i / 8.0, 1.0 / 8);     // thirty-seconds
    return in;
}

ScoreInput BassLine() {
    ScoreInput in;
    in.ticksPerQuarter = kTpq;
    in.fifths = 2;
    in.minor = true;
    in.metres = {{0, 6, 8}};
    const int line[] = {47, 49, 50, 52, 54, 55, 57, 58, 59};
    double at = 0;
    for (int i = 0; i < 9; ++i) {
        const double length = i % 3 == 2 ? 1.0 : 0.5;
        Add(in, line[i], at, length);
        at += length;
    }
    return in;
}

std::vector<std::tuple<int, int, double, double>> Key(const ReadScore& s) {
    std::vector<std::tuple<int, int, double, double>> out;
    for (const ReadNote& n : JoinTies(s.notes))
        out.emplace_back(n.staff, n.pitch, std::round(n.onset * 48) / 48, std::round(n.duration * 48) / 48);
    std::sort(out.begin(), out.end());
    return out;
}

TEST(NotationProgram, OpensEachScoreWithoutAMessageAndKeepsBarsAndNotes) {
    ASSERT_EQ(std::system("command -v mscore3 >/dev/null 2>&1"), 0)
        << "mscore3 is missing: scripts/install-deps.sh installs musescore3";
    TempDir dir;
    struct Item {
        std::string name;
        Score score;
        bool compressed;
    };
    std::vector<Item> items{{"piano", LayOutScore(PianoPiece()), false},
                            {"packed", LayOutScore(PianoPiece()), true},
                            {"bass", LayOutScore(BassLine()), false}};
    ASSERT_EQ(items[0].score.staves, 2);
    ASSERT_EQ(items[2].score.staves, 1);
    std::ostringstream job;
    job << "[";
    for (size_t i = 0; i < items.size(); ++i) {
        const std::string in = dir.file(items[i].name + (items[i].compressed ? ".mxl" : ".musicxml"));
        ASSERT_TRUE(SaveScore(items[i].score, in));
        job << (i ? "," : "") << "{\"in\": \"" << in << "\", \"out\": [\"" << dir.file(items[i].name + ".pdf")
            << "\", \"" << dir.file(items[i].name + ".back.musicxml") << "\"]}";
    }
    job << "]";
    std::ofstream(dir.file("job.json")) << job.str();
    const std::string cmd = "cd '" + dir.path() + "' && XDG_RUNTIME_DIR='" + dir.path() +
                            "' QT_QPA_PLATFORM=offscreen mscore3 -j job.json > log.txt 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << readFile(dir.file("log.txt"));
    // Only the program's own progress lines: no import error, no schema complaint.
    std::istringstream log(readFile(dir.file("log.txt")));
    for (std::string line; std::getline(log, line);) {
        const bool progress = line.rfind("convert <", 0) == 0 || line.rfind("\tto <", 0) == 0 ||
                              line == "... success!" || line.empty();
        EXPECT_TRUE(progress) << line;
    }
    for (const Item& item : items) {
        EXPECT_EQ(readFile(dir.file(item.name + ".pdf")).substr(0, 5), "%PDF-") << item.name;
        const std::string ours = BuildMusicXml(item.score);
        const ReadScore written = ReadMusicXml(ours);
        const ReadScore back = ReadMusicXml(readFile(dir.file(item.name + ".back.musicxml")));
        EXPECT_EQ(back.measures, int(item.score.bars.size())) << item.name;
        EXPECT_EQ(written.measures, back.measures) << item.name;
        EXPECT_EQ(int(JoinTies(back.notes).size()), item.score.notes) << item.name;
        EXPECT_EQ(Key(written), Key(back)) << item.name;
        EXPECT_EQ(back.fifths, item.score.fifths) << item.name;
        EXPECT_EQ(back.times, written.times) << item.name;
    }
}

}  // namespace
