#include "notation/ScoreExport.h"

#include <algorithm>
#include <cmath>

#include "audio/Recording.h"

namespace notavox::notation {

namespace {

// The map squeezes what comes before the first beat that it continues back
// into whatever ticks remain before it, often at many times the tempo. In
// the score those notes keep the first beat's tempo instead, so that a note
// played just before the first beat sits just before it.
void StretchLeadIn(std::vector<TickNote>& notes, const TempoMap& map) {
    const std::vector<TempoSegment>& seg = map.segments();
    if (seg.size() < 2 || seg[0].microsPerQuarter * 2 > seg[1].microsPerQuarter) return;
    const double tpq = map.ticksPerQuarter();
    for (TickNote& n : notes) {
        auto move = [&](int64_t tick) {
            if (tick >= seg[1].tick) return tick;
            const double micros = map.secondsAt(double(tick)) * 1e6;
            return seg[1].tick - int64_t(std::llround((double(seg[1].micros) - micros) / seg[1].microsPerQuarter * tpq));
        };
        const int64_t on = std::max<int64_t>(0, move(n.on));
        n.off = std::max(move(n.off), on + 1);
        n.on = on;
    }
}

}  // namespace

ScoreInput ScoreInputFromLayout(const TempoMappedLayout& layout, const std::string& title) {
    ScoreInput in;
    in.ticksPerQuarter = layout.placed.map.ticksPerQuarter();
    in.notes = layout.placed.notes;
    StretchLeadIn(in.notes, layout.placed.map);
    in.metres = {TimeSignature{0, layout.metre.numerator(), layout.metre.denominator()}};
    in.fifths = layout.key.sharps();
    in.minor = layout.key.minor;
    in.tempo = layout.placed.map;
    in.title = title;
    return in;
}

std::string TitleFromFileName(const std::string& fileName) { return NameWithoutExtension(fileName); }

bool SaveScoreFromAnalysis(const TempoAnalysis& analysis, const std::vector<TranscribedNote>& notes,
                           const TempoChoices& choices, const std::string& fileName, std::string* cause) {
    const TempoMappedLayout layout = LayOutTempoMapped(analysis, notes, choices);
    return SaveScore(LayOutScore(ScoreInputFromLayout(layout, TitleFromFileName(fileName))), fileName, cause);
}

}  // namespace notavox::notation
