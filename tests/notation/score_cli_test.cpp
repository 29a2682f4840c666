// notavox-convert writing scores as a user runs it: a rendered piano piece
// becomes a MusicXML score (here through -o and --format) that holds the
// key, metre and notes the same analysis finds here in the test.
#include <gtest/gtest.h>

#include <filesystem>

#include "audio/WavFile.h"
#include "cli/ToolRun.h"
#include "notation/ScoreExport.h"
#include "notation/ScoreReader.h"
#include "recognition/AccurateConversion.h"
#include "recognition/RecognitionSupport.h"
#include "rhythm/RhythmTestSupport.h"
#include "support/Files.h"
#include "support/TempDir.h"

using namespace notavox;
using namespace notavox::testing;

TEST(ScoreConverter, ARecordingBecomesAScoreWithTheKeyMetreAndNotesFound) {
    if (!HaveFluidsynth()) GTEST_SKIP() << "fluidsynth or the test sound font is missing";
    TempDir dir;
    PieceSpec recipe;
    recipe.bpm = 100;
    recipe.beatsPerBar = 3;
    recipe.bars = 5;
    recipe.tonic = 2;  // D major
    recipe.accompaniment = Accompaniment::BrokenChords;
    const std::string wav = dir.file("piece.wav");
    ASSERT_TRUE(RenderPiece(MakePiece(recipe), dir.file("piece.mid"), wav, 44100));

    // What the score must hold, from the same analysis run here.
    const TranscribedWav found = transcribeWav(wav);
    const std::vector<TranscribedNote>& notes = found.notes;
    ASSERT_GT(notes.size(), 20u);
    const TempoAnalysis analysis = AnalyseTempo(found.doc, notes);
    const TempoMappedLayout layout = LayOutTempoMapped(analysis, notes, {});
    const notation::Score expected = notation::LayOutScore(notation::ScoreInputFromLayout(layout));

    const ToolRun r = runConvertTool("-q --format musicxml '" + wav + "' -o '" + dir.file("out") + "'");
    ASSERT_EQ(r.status, 0) << r.output;
    const ReadScore s = ReadMusicXml(readFile(dir.file("out/piece.musicxml")));
    EXPECT_EQ(s.fifths, layout.key.sharps());
    ASSERT_FALSE(s.times.empty());
    EXPECT_EQ(s.times[0], std::to_string(layout.metre.numerator()) + "/" + std::to_string(layout.metre.denominator()));
    EXPECT_EQ(s.staves, 2);
    EXPECT_EQ(s.measures, int(expected.bars.size()));
    EXPECT_EQ(int(JoinTies(s.notes).size()), expected.notes);
    // The piece is in D major and the analysis finds it.
    EXPECT_EQ(s.fifths, 2);

    // --format needs -o.
    const ToolRun wrong = runConvertTool("--format mxl '" + wav + "' '" + dir.file("x.mid") + "'");
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.output.find("--format gilt nur mit -o"), std::string::npos) << wrong.output;
}
