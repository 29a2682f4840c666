// Writes the score of notes given as text, for measuring the score's layout
// on the notes of a MIDI file (training/score_accuracy.py) without the
// recogniser: the same layout and writer as the program's scores.
//   score_from_notes NOTES.txt OUT.musicxml|OUT.mxl
// Lines of NOTES.txt:  tpq N | time TICK BEATS BEATTYPE | key FIFTHS MINOR |
//                      tempo TICK MICROS_PER_QUARTER | note PITCH ON OFF VELOCITY
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "notation/MusicXml.h"
#include "notation/Score.h"

using namespace notavox;
using namespace notavox::notation;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: score_from_notes NOTES.txt OUT.musicxml\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    ScoreInput input;
    input.layout = StaffLayout::Piano;
    std::vector<int64_t> tempoTicks{0}, tempoMicros{0};
    std::vector<std::pair<int64_t, int64_t>> tempos;  // tick, micros per quarter
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::string what;
        s >> what;
        if (what == "tpq") {
            s >> input.ticksPerQuarter;
        } else if (what == "time") {
            TimeSignature t;
            s >> t.tick >> t.beats >> t.beatType;
            input.metres.push_back(t);
        } else if (what == "key") {
            int minor = 0;
            s >> input.fifths >> minor;
            input.minor = minor != 0;
        } else if (what == "tempo") {
            int64_t tick = 0, micros = 0;
            s >> tick >> micros;
            tempos.emplace_back(tick, micros);
        } else if (what == "note") {
            TickNote n{};
            s >> n.pitch >> n.on >> n.off >> n.velocity;
            input.notes.push_back(n);
        }
    }
    // The tempo map through anchors at every change and the end.
    if (tempos.empty() || tempos.front().first > 0) tempos.insert(tempos.begin(), {0, 500000});
    int64_t end = 0;
    for (const TickNote& n : input.notes) end = std::max(end, n.off);
    double micros = 0;
    for (size_t i = 0; i < tempos.size(); ++i) {
        const int64_t to = i + 1 < tempos.size() ? tempos[i + 1].first : std::max(end, tempos[i].first) + input.ticksPerQuarter;
        micros += double(to - tempos[i].first) * double(tempos[i].second) / input.ticksPerQuarter;
        if (to > tempoTicks.back()) {
            tempoTicks.push_back(to);
            tempoMicros.push_back(int64_t(micros));
        }
    }
    input.tempo = TempoMap(input.ticksPerQuarter, tempoTicks, tempoMicros);
    const Score score = LayOutScore(input);
    if (!SaveScore(score, argv[2])) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("%d notes, %zu bars\n", score.notes, score.bars.size());
    return 0;
}
