// Renders generated pieces with known beats and keys (tempos 60 to 180, 3/4
// and 4/4, several keys and accompaniments, two with gradual tempo changes)
// with the fluidsynth command and prints what the rhythm analysis finds: the
// beat F-measure (70 ms), the tempo error, metre, downbeat and key.
//   rhythm_accuracy [--variant=N] [soundfont...]   (default: the test sound font)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/WavFile.h"
#include "rhythm/RhythmAnalysis.h"
#include "tests/rhythm/RhythmTestSupport.h"

using namespace notavox;
using namespace notavox::testing;

namespace {

// variant 0 is the reference set; other variants change every seed, move the
// tempos by a few percent and rotate the keys, for a check on pieces never
// looked at before.
std::vector<PieceSpec> Pieces(int variant) {
    using A = Accompaniment;
    auto recipe = [variant](double bpm, double end, int bar, int tonic, bool minor, A a, int program, uint32_t seed) {
        PieceSpec s;
        const double shift = 1.0 + 0.03 * ((variant % 5) - 2) * (variant != 0);
        s.bpm = bpm * shift;
        s.endBpm = end * shift;
        tonic = (tonic + 5 * variant) % 12;
        s.beatsPerBar = bar;
        s.tonic = tonic;
        s.minor = minor;
        s.accompaniment = a;
        s.program = program;
        s.seed = seed + 1000 * uint32_t(variant);
        s.bars = 16;
        return s;
    };
    return {
        recipe(60, 0, 4, 0, false, A::BlockChords, 0, 1),    recipe(72, 0, 3, 9, true, A::Waltz, 0, 2),
        recipe(84, 0, 4, 7, false, A::BrokenChords, 0, 3),   recipe(96, 0, 3, 4, true, A::Waltz, 24, 4),
        recipe(108, 0, 4, 5, false, A::Sparse, 0, 5),        recipe(120, 0, 4, 2, false, A::BlockChords, 4, 6),
        recipe(132, 0, 3, 10, false, A::Waltz, 0, 7),        recipe(150, 0, 4, 0, true, A::BrokenChords, 0, 8),
        recipe(168, 0, 3, 9, false, A::BlockChords, 0, 9),   recipe(180, 0, 4, 3, false, A::BlockChords, 0, 10),
        recipe(90, 130, 4, 7, true, A::BrokenChords, 0, 11), recipe(140, 95, 3, 4, false, A::Waltz, 0, 12),
    };
}

const char* const kNames[] = {"C", "Cis", "D", "Es", "E", "F", "Fis", "G", "As", "A", "B", "H"};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> fonts;
    int variant = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--variant=", 0) == 0)
            variant = std::atoi(a.c_str() + 10);
        else
            fonts.push_back(a);
    }
    if (fonts.empty()) fonts.push_back(kTestSoundFont);
    if (!HaveFluidsynth()) {
        std::printf("fluidsynth or the test sound font is missing\n");
        return 0;
    }
    for (const std::string& font : fonts) {
        std::printf("Sound font %s\n", font.c_str());
        std::printf("%-4s %7s %5s %-6s %8s %7s %6s %5s %6s %-8s %-8s\n", "#", "bpm", "bar", "acc", "F", "tempo",
                    "err%", "metre", "down", "key", "found");
        double fSum = 0;
        int pieces = 0, steadyOk = 0, steady = 0, keyOk = 0, metreOk = 0, downOk = 0;
        for (const PieceSpec& s : Pieces(variant)) {
            const Piece piece = MakePiece(s);
            const std::string mid = MakeTempFileName("rhythm_acc", ".mid");
            const std::string wav = MakeTempFileName("rhythm_acc", ".wav");
            WavData w;
            const bool read = WriteRenderMidi(piece, mid) && Render(mid, wav, font, 44100) && ReadWAVFile(wav, w);
            std::remove(mid.c_str());
            std::remove(wav.c_str());
            if (!read) {
                std::printf("rendering with %s failed\n", font.c_str());
                return 1;
            }
            AudioDocument doc;
            doc.replace(std::move(w.block), w.byteCount, w.sampleRate, w.stereo, w.sixteenBit);
            const RhythmAnalysis r = AnalyseRhythm(doc, piece.notes);
            const double f = BeatFMeasure(piece.beats, r.beats.beats);
            const double trueBpm = s.endBpm > 0 ? 0 : s.bpm;
            const double err = trueBpm > 0 ? 100.0 * (r.beats.tempoBpm - trueBpm) / trueBpm : 0;
            // The downbeat is right when the first downbeat found is a true one.
            bool down = false;
            if (!r.beats.beats.empty() && size_t(r.metre.firstDownbeat) < r.beats.beats.size()) {
                const double t = r.beats.beats[size_t(r.metre.firstDownbeat)];
                for (size_t i = 0; i < piece.beats.size(); i += size_t(s.beatsPerBar))
                    if (std::fabs(piece.beats[i] - t) < 0.07) down = true;
            }
            // The median distance from each true beat to the nearest beat found.
            std::vector<double> offsets;
            for (double b : piece.beats) {
                double best = 1e9;
                for (double e : r.beats.beats)
                    if (std::fabs(e - b) < std::fabs(best)) best = e - b;
                if (std::fabs(best) < 0.2) offsets.push_back(best);
            }
            std::sort(offsets.begin(), offsets.end());
            const double offset = offsets.empty() ? 0 : offsets[offsets.size() / 2];
            const bool metre = r.metre.numerator() == s.beatsPerBar && r.metre.denominator() == 4;
            const bool key = r.key.tonic == s.tonic && r.key.minor == s.minor;
            std::printf("%-4d %3.0f%s%3.0f %5d %-6d %8.3f %7.1f %6.1f %3d/%d %6s %-8s %-8s %+5.0fms\n", pieces + 1, s.bpm,
                        s.endBpm > 0 ? ">" : " ", s.endBpm, s.beatsPerBar, int(s.accompaniment), f,
                        r.beats.tempoBpm, err, r.metre.numerator(), r.metre.denominator(), down ? "ok" : "WRONG",
                        (std::string(kNames[s.tonic]) + (s.minor ? "m" : "")).c_str(), r.key.name().c_str(), 1000 * offset);
            if (f < 0.9) {
                std::printf("  true %zu beats %.2f..%.2f, found %zu beats %.2f..%.2f\n  miss:", piece.beats.size(),
                            piece.beats.front(), piece.beats.back(), r.beats.beats.size(),
                            r.beats.beats.empty() ? 0 : r.beats.beats.front(),
                            r.beats.beats.empty() ? 0 : r.beats.beats.back());
                for (double b : piece.beats) {
                    double best = 1e9;
                    for (double e : r.beats.beats)
                        if (std::fabs(e - b) < std::fabs(best)) best = e - b;
                    if (std::fabs(best) > 0.07) std::printf(" %.2f(%+.0f)", b, best * 1000);
                }
                std::printf("\n");
            }
            fSum += f;
            ++pieces;
            if (trueBpm > 0) {
                ++steady;
                if (std::fabs(err) <= 4.0) ++steadyOk;
            }
            keyOk += key;
            metreOk += metre;
            downOk += down;
        }
        std::printf("mean F %.3f  tempo within 4%%: %d of %d steady  metre %d/%d  downbeat %d/%d  key %d/%d\n\n",
                    fSum / pieces, steadyOk, steady, metreOk, pieces, downOk, pieces, keyOk, pieces);
    }
    return 0;
}
