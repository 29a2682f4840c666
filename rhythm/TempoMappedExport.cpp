#include "rhythm/TempoMappedExport.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "rhythm/TempoMap.h"
#include "transcription/MidiFile.h"

namespace notavox {
namespace {

constexpr int kTicksPerQuarter = 500;  // the division of the program's MIDI files

// One tempo event from tick 0 on: the given beats a minute, a beat being a
// quarter or a dotted quarter.
TempoMap ConstantTempo(double bpm, bool compound) {
    const double beatMicros = 60e6 / bpm;
    const double quarterMicros = compound ? beatMicros * 2.0 / 3.0 : beatMicros;
    const int64_t tempo = std::clamp<int64_t>(std::llround(quarterMicros), 1, 0xFFFFFF);
    return TempoMap(kTicksPerQuarter, {0, kTicksPerQuarter}, {0, tempo});
}

}  // namespace

std::vector<double> BeatsAtLevel(const RhythmAnalysis& found, TempoLevel level) {
    const std::vector<double>& beats = found.beats.beats;
    std::vector<double> out;
    if (level == TempoLevel::Half) {
        for (size_t i = size_t(std::max(0, found.metre.firstDownbeat)) % 2; i < beats.size(); i += 2)
            out.push_back(beats[i]);
    } else if (level == TempoLevel::Double) {
        for (size_t i = 0; i < beats.size(); ++i) {
            out.push_back(beats[i]);
            if (i + 1 < beats.size()) out.push_back(0.5 * (beats[i] + beats[i + 1]));
        }
    } else {
        out = beats;
    }
    return out;
}

double TempoAtLevel(const RhythmAnalysis& found, TempoLevel level) {
    const double bpm = found.beats.tempoBpm;
    return level == TempoLevel::Half ? bpm / 2 : (level == TempoLevel::Double ? bpm * 2 : bpm);
}

TempoAnalysis AnalyseTempo(const AudioDocument& doc, const std::vector<TranscribedNote>& notes, unsigned threads) {
    TempoAnalysis a;
    a.envelope = ComputeOnsetEnvelope(doc, threads);
    a.found = AnalyseRhythm(a.envelope, notes);
    // Without a few notes there is no music whose beats the file could
    // follow: silence and noise keep the one default tempo.
    constexpr size_t kFewestNotes = 4;
    if (notes.size() < kFewestNotes) a.found.beats = BeatTrack{};
    return a;
}

TempoMappedLayout LayOutTempoMapped(const TempoAnalysis& analysis, const std::vector<TranscribedNote>& notes,
                                    const TempoChoices& choices) {
    TempoMappedLayout out;
    const std::vector<double> beats = BeatsAtLevel(analysis.found, choices.level);
    // At another level the bars are counted again on its beats.
    out.metre = choices.level == TempoLevel::Found ? analysis.found.metre
                                                   : EstimateMetre(analysis.envelope, beats, notes);
    out.key = choices.key ? *choices.key : analysis.found.key;
    const TempoMidiOptions options{choices.grid, std::clamp(choices.strengthPercent, 0, 100)};
    const bool fixed = choices.tempoBpm > 0;
    if (choices.metre) {
        out.metre.beatsPerBar = std::clamp(choices.metre->beatsPerBar, 2, 4);
        out.metre.compound = choices.metre->compound;
        if (!fixed)
            out.metre.firstDownbeat = EstimateMetre(analysis.envelope, beats, notes, out.metre.beatsPerBar).firstDownbeat;
    }
    if (fixed) {
        out.metre.firstDownbeat = 0;
        const double bpm = std::clamp(choices.tempoBpm, kSlowestFixedBpm, kFastestFixedBpm);
        out.placed = PlaceNotesUnder(notes, ConstantTempo(bpm, out.metre.compound), options);
    } else {
        out.placed = PlaceNotesOnBeats(notes, beats, out.metre, options);
    }
    return out;
}

bool SaveTempoMapped(const TempoAnalysis& analysis, const std::vector<TranscribedNote>& notes,
                     const TempoChoices& choices, const std::string& fileName, int* error) {
    const TempoMappedLayout layout = LayOutTempoMapped(analysis, notes, choices);
    Song song;
    FillTempoMappedSong(song, layout.placed, layout.metre, layout.key);
    return SaveAsMIDI(song, fileName, error);
}

std::vector<BeatLine> BeatLines(const TempoAnalysis& analysis, const TempoMappedLayout& layout,
                                const TempoChoices& choices, double seconds) {
    std::vector<BeatLine> lines;
    const int perBar = std::max(1, layout.metre.beatsPerBar);
    const auto barStart = [&](int64_t i) {
        const int64_t k = i - layout.metre.firstDownbeat;
        return k >= 0 && k % perBar == 0;
    };
    if (choices.tempoBpm > 0) {
        // A beat is a dotted quarter in compound metre, as ConstantTempo has it.
        const double beat = 60.0 / std::clamp(choices.tempoBpm, kSlowestFixedBpm, kFastestFixedBpm);
        for (int64_t i = 0; double(i) * beat <= seconds; ++i) lines.push_back({double(i) * beat, barStart(i)});
        return lines;
    }
    const std::vector<double> beats = BeatsAtLevel(analysis.found, choices.level);
    for (size_t i = 0; i < beats.size() && beats[i] <= seconds; ++i) lines.push_back({beats[i], barStart(int64_t(i))});
    return lines;
}

std::optional<double> ParseTempoBpm(const std::string& text) {
    std::string t;
    for (char c : text) t += char(std::tolower(static_cast<unsigned char>(c)));
    if (t == "auto") return 0.0;
    std::replace(t.begin(), t.end(), ',', '.');
    double v = 0;
    const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::fixed);
    if (t.empty() || error != std::errc() || end != t.data() + t.size()) return std::nullopt;
    if (!(v >= kSlowestFixedBpm && v <= kFastestFixedBpm)) return std::nullopt;
    return v;
}

std::optional<int> ParseStrengthPercent(const std::string& text) {
    std::string t = text;
    if (!t.empty() && t.back() == '%') t.pop_back();
    int v = 0;
    const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || error != std::errc() || end != t.data() + t.size() || v < 0 || v > 100) return std::nullopt;
    return v;
}

}  // namespace notavox
