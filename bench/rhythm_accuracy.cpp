// Renders generated pieces with known beats and keys (tempos 60 to 180, 3/4
// and 4/4, several keys and accompaniments, two with gradual tempo changes)
// with the fluidsynth command and prints what the rhythm analysis finds: the
// beat F-measure (70 ms), the tempo error, metre, downbeat and key.
// With --accurate the notes come from the accurate analysis (the shipped
// model) instead of the pieces' own, and it prints besides the onset F1
// (50 ms, same pitch) of the notes as the tempo-mapped file holds them,
// unquantised and quantised to the pieces' eighths (the grid of every piece;
// 1/16 of the beats found where they came at half the tempo), and the
// processor time of the rhythm analysis and the file's layout against that
// of the accurate analysis.
//   rhythm_accuracy [--variant=N] [--accurate] [soundfont...]   (default: the test sound font)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "audio/WavFile.h"
#include "recognition/AccurateConversion.h"
#include "rhythm/RhythmAnalysis.h"
#include "rhythm/TempoMappedExport.h"
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

double ProcessorSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The notes as the file holds them, back in seconds.
std::vector<TranscribedNote> InSeconds(const TempoMappedLayout& layout) {
    std::vector<TranscribedNote> notes;
    for (const TickNote& n : layout.placed.notes)
        notes.push_back({n.pitch, layout.placed.map.secondsAt(double(n.on)), layout.placed.map.secondsAt(double(n.off)),
                         n.velocity});
    return notes;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> fonts;
    int variant = 0;
    bool accurate = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--variant=", 0) == 0)
            variant = std::atoi(a.c_str() + 10);
        else if (a == "--accurate")
            accurate = true;
        else
            fonts.push_back(a);
    }
    recognition::ModelLoad model;
    if (accurate) {
        model = recognition::LoadModel(NOTAVOX_BINARY_DIR "/notes.nvm");
        if (!model.ok) {
            std::printf("%s\n", model.message.c_str());
            return 1;
        }
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
        double onsetSum = 0, quantisedSum = 0, accurateCpu = 0, rhythmCpu = 0;
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
            RhythmAnalysis r;
            if (accurate) {
                OperationHost quiet;
                const double c0 = ProcessorSeconds();
                const std::vector<TranscribedNote> notes =
                    recognition::TranscribeRecording(doc, model.model, quiet).notes;
                const double c1 = ProcessorSeconds();
                const TempoAnalysis a = AnalyseTempo(doc, notes);
                const TempoMappedLayout plain = LayOutTempoMapped(a, notes, {});
                // The piece's eighths: 1/8 of the beats found, or 1/16 where
                // they came at half the tempo (1/4 where at twice).
                const double ratio = MedianTempo(piece.beats) / std::max(1.0, a.found.beats.tempoBpm);
                TempoChoices eighths;
                eighths.grid = ratio > 1.5 ? QuantizeGrid::Sixteenth
                                           : (ratio < 0.75 ? QuantizeGrid::Quarter : QuantizeGrid::Eighth);
                const TempoMappedLayout quantised = LayOutTempoMapped(a, notes, eighths);
                const double c2 = ProcessorSeconds();
                accurateCpu += c1 - c0;
                rhythmCpu += c2 - c1;
                r = a.found;
                const double f1 = OnsetF1(piece.notes, InSeconds(plain));
                const double q1 = OnsetF1(piece.notes, InSeconds(quantised));
                onsetSum += f1;
                quantisedSum += q1;
                std::printf("     onset F1 %.3f, quantised to 1/%d %.3f (%+.3f); %zu notes found, %zu played\n", f1,
                            4 * GridDivisions(eighths.grid), q1, q1 - f1, notes.size(), piece.notes.size());
            } else {
                r = AnalyseRhythm(doc, piece.notes);
            }
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
        std::printf("mean F %.3f  tempo within 4%%: %d of %d steady  metre %d/%d  downbeat %d/%d  key %d/%d\n",
                    fSum / pieces, steadyOk, steady, metreOk, pieces, downOk, pieces, keyOk, pieces);
        if (accurate) {
            std::printf("accurate notes: mean onset F1 %.3f, quantised to the eighths %.3f (%+.3f; target no more than "
                        "0.02 lower)\n",
                        onsetSum / pieces, quantisedSum / pieces, (quantisedSum - onsetSum) / pieces);
            std::printf("processor time: accurate analysis %.2f s, rhythm analysis and file layout %.3f s = %.1f %% "
                        "(target at most 10 %%)\n",
                        accurateCpu, rhythmCpu, 100 * rhythmCpu / accurateCpu);
        }
        std::printf("\n");
    }
    return 0;
}
