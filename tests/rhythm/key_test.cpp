// Key and mode from notes: scales and cadences in all 24 keys, generated
// pieces, and the names and key signatures.
#include <gtest/gtest.h>

#include "RhythmTestSupport.h"
#include "rhythm/KeyEstimate.h"

namespace notavox {
namespace {

TEST(KeyEstimate, ScalesAndCadencesInEveryKey) {
    for (int tonic = 0; tonic < 12; ++tonic) {
        for (bool minor : {false, true}) {
            for (const testing::Piece& p : {testing::MakeScale(tonic, minor), testing::MakeCadence(tonic, minor)}) {
                const KeyEstimate k = EstimateKey(p.notes);
                EXPECT_EQ(k.tonic, tonic) << tonic << (minor ? " minor" : " major");
                EXPECT_EQ(k.minor, minor) << tonic;
                EXPECT_GT(k.confidence, 0.5);
                EXPECT_GT(k.margin, 0.0);
            }
        }
    }
}

TEST(KeyEstimate, GeneratedPieces) {
    int right = 0, total = 0;
    for (int tonic = 0; tonic < 12; ++tonic) {
        for (bool minor : {false, true}) {
            testing::PieceSpec s;
            s.tonic = tonic;
            s.minor = minor;
            s.seed = uint32_t(40 + 2 * tonic + minor);
            s.accompaniment = testing::Accompaniment((tonic + minor) % 4);
            s.beatsPerBar = 3 + tonic % 2;
            const KeyEstimate k = EstimateKey(testing::MakePiece(s).notes);
            right += k.tonic == tonic && k.minor == minor;
            ++total;
        }
    }
    EXPECT_GE(right, 22) << "of " << total;
}

// The same melody on C, E and A over a short bass: over A and E (with G sharp
// over E) it is a minor, over C and G C major.
TEST(KeyEstimate, BassAndLeadingToneTellMinorFromItsRelativeMajor) {
    const int melody[] = {72, 76, 81, 76, 72, 69, 64, 60, 64, 69, 72, 76};
    for (bool minor : {false, true}) {
        std::vector<TranscribedNote> notes;
        double t = 0;
        for (int bar = 0; bar < 8; ++bar) {
            const bool dominant = bar % 2 == 1;
            const int bass = minor ? (dominant ? 40 : 45) : (dominant ? 43 : 48);
            notes.push_back({bass, t, t + 0.45, 80});
            if (minor && dominant) notes.push_back({56, t, t + 0.45, 60});  // G sharp
            for (int i = 0; i < 4; ++i) {
                const int m = melody[(bar * 4 + i) % 12];
                notes.push_back({m, t + 0.5 * i, t + 0.5 * i + 0.45, 90});
            }
            t += 2;
        }
        const KeyEstimate k = EstimateKey(notes);
        EXPECT_EQ(k.tonic, minor ? 9 : 0) << k.name();
        EXPECT_EQ(k.minor, minor) << k.name();
    }
}

TEST(KeyEstimate, NoNotesNoConfidence) {
    const KeyEstimate k = EstimateKey({});
    EXPECT_EQ(k.confidence, 0.0);
    EXPECT_EQ(k.name(), "C-Dur");
    // Notes of no length carry no weight either.
    EXPECT_EQ(EstimateKey({{60, 1.0, 1.0, 80}}).confidence, 0.0);
}

TEST(KeyEstimate, NamesAndSignatures) {
    auto key = [](int tonic, bool minor) {
        KeyEstimate k;
        k.tonic = tonic;
        k.minor = minor;
        return k;
    };
    EXPECT_EQ(key(0, false).name(), "C-Dur");
    EXPECT_EQ(key(9, true).name(), "a-Moll");
    EXPECT_EQ(key(9, true).sharps(), 0);
    EXPECT_EQ(key(6, true).name(), "fis-Moll");
    EXPECT_EQ(key(6, true).sharps(), 3);
    EXPECT_EQ(key(3, false).name(), "Es-Dur");
    EXPECT_EQ(key(3, false).sharps(), -3);
    EXPECT_EQ(key(10, false).name(), "B-Dur");
    EXPECT_EQ(key(11, false).name(), "H-Dur");
    EXPECT_EQ(key(11, false).sharps(), 5);
    EXPECT_EQ(key(10, true).name(), "b-Moll");
    EXPECT_EQ(key(10, true).sharps(), -5);
    EXPECT_EQ(key(1, false).name(), "Des-Dur");
    EXPECT_EQ(key(6, false).sharps(), 6);
    EXPECT_EQ(key(6, false).name(), "Fis-Dur");
}

}  // namespace
}  // namespace notavox
