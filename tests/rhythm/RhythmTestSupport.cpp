#include "RhythmTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace notavox::testing {
namespace {

constexpr int kMajorScale[7] = {0, 2, 4, 5, 7, 9, 11};
constexpr int kMinorScale[7] = {0, 2, 3, 5, 7, 8, 11};  // harmonic minor

int Degree(const PieceSpec& s, int degree) {
    // Pitch offset from the tonic of a scale degree (any integer).
    const int* scale = s.minor ? kMinorScale : kMajorScale;
    const int oct = degree >= 0 ? degree / 7 : -((-degree + 6) / 7);
    const int d = degree - 7 * oct;
    return 12 * oct + scale[d];
}

void Put32(std::string& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(char((v >> s) & 0xFF));
}
void PutVar(std::string& out, uint32_t v) {
    char buf[5];
    int n = 0;
    buf[n++] = char(v & 0x7F);
    while (v >>= 7) buf[n++] = char((v & 0x7F) | 0x80);
    while (n) out.push_back(buf[--n]);
}

}  // namespace

double BeatFMeasure(const std::vector<double>& reference, const std::vector<double>& estimated, double window) {
    if (reference.empty() || estimated.empty()) return 0.0;
    // Both lists ascending; greedy one-to-one matching in time order of the
    // nearest pairs (beats are much further apart than the window).
    size_t hits = 0, j = 0;
    for (double r : reference) {
        while (j < estimated.size() && estimated[j] < r - window) ++j;
        if (j < estimated.size() && std::fabs(estimated[j] - r) <= window) {
            ++hits;
            ++j;
        }
    }
    const double p = double(hits) / double(estimated.size());
    const double rc = double(hits) / double(reference.size());
    return p + rc > 0 ? 2 * p * rc / (p + rc) : 0.0;
}

double OnsetF1(const std::vector<TranscribedNote>& reference, const std::vector<TranscribedNote>& estimated,
               double window) {
    // Per pitch both lists in time order: each reference onset takes the
    // earliest unmatched estimate in its window, which matches the most.
    std::map<int, std::vector<double>> ref, est;
    for (const auto& n : reference) ref[n.pitch].push_back(n.onset);
    for (const auto& n : estimated) est[n.pitch].push_back(n.onset);
    size_t matched = 0;
    for (auto& [pitch, times] : ref) {
        std::vector<double>& e = est[pitch];
        std::sort(times.begin(), times.end());
        std::sort(e.begin(), e.end());
        size_t j = 0;
        for (double r : times) {
            while (j < e.size() && e[j] < r - window) ++j;
            if (j < e.size() && e[j] <= r + window) {
                ++matched;
                ++j;
            }
        }
    }
    if (matched == 0) return 0.0;
    const double p = double(matched) / double(estimated.size());
    const double r = double(matched) / double(reference.size());
    return 2 * p * r / (p + r);
}

Piece MakePiece(const PieceSpec& recipe) {
    Piece piece;
    piece.recipe = recipe;
    Rng rng{recipe.seed * 2654435761u + 17};
    const int beatsTotal = recipe.bars * recipe.beatsPerBar;
    double t = recipe.start;
    for (int i = 0; i <= beatsTotal; ++i) {
        piece.beats.push_back(t);
        const double f = beatsTotal > 1 ? double(i) / double(beatsTotal - 1) : 0;
        const double bpm = recipe.endBpm > 0 ? recipe.bpm + (recipe.endBpm - recipe.bpm) * f : recipe.bpm;
        t += 60.0 / bpm;
    }
    // The time of a position in beats (fractions between beats linear).
    auto at = [&](double beat) {
        const int i = std::clamp(int(std::floor(beat)), 0, beatsTotal - 1);
        return piece.beats[size_t(i)] + (beat - i) * (piece.beats[size_t(i) + 1] - piece.beats[size_t(i)]);
    };
    auto add = [&](int pitch, double from, double to, int velocity) {
        piece.notes.push_back({pitch, at(from), at(to) - 0.01, std::clamp(velocity, 1, 127)});
    };
    const int base = 48 + recipe.tonic;  // the tonic around C3
    // Chord roots as scale degrees, a new one each bar, cadence at the end.
    const int progression[8] = {0, 3, 4, 0, 5, 1, 4, 0};
    const int bar = recipe.beatsPerBar;
    for (int b = 0; b < recipe.bars; ++b) {
        int root = b == recipe.bars - 1 ? 0 : (b == recipe.bars - 2 ? 4 : progression[(b + rng.below(2)) % 8]);
        const double b0 = double(b * bar);
        const int bass = base - 12 + Degree(recipe, root);
        const int chord[3] = {base + Degree(recipe, root), base + Degree(recipe, root + 2), base + Degree(recipe, root + 4)};
        switch (recipe.accompaniment) {
            case Accompaniment::BlockChords:
                add(bass, b0, b0 + bar, 90);
                for (int k = 0; k < bar; ++k)
                    for (int c : chord) add(c, b0 + k, b0 + k + 1, k == 0 ? 80 : 66);
                break;
            case Accompaniment::BrokenChords:
                for (int k = 0; k < 2 * bar; ++k) {
                    const int idx[4] = {0, 2, 1, 2};
                    const int p = k % 4 == 0 ? bass : chord[idx[k % 4]];
                    add(p, b0 + 0.5 * k, b0 + 0.5 * k + 0.5, k % 2 == 0 ? 76 : 60);
                }
                break;
            case Accompaniment::Waltz:
                add(bass, b0, b0 + 1, 92);
                for (int k = 1; k < bar; ++k)
                    for (int c : chord) add(c, b0 + k, b0 + k + 0.8, 62);
                break;
            case Accompaniment::Sparse:
                add(bass, b0, b0 + bar, 88);
                for (int c : chord) add(c, b0, b0 + bar / 2.0, 70);
                for (int c : chord) add(c, b0 + bar / 2.0, b0 + bar, 64);
                break;
        }
        // Melody: quarters, eighth pairs, halves and dotted quarters on chord
        // and scale tones.
        double pos = 0;
        int degree = 7 + root + 2 * rng.below(2);
        while (pos < bar - 1e-9) {
            const int r = rng.below(10);
            double len = r < 4 ? 1.0 : (r < 7 ? 0.5 : (r < 9 ? 2.0 : 1.5));
            if (pos + len > bar) len = bar - pos;
            if (b == recipe.bars - 1) {
                len = bar - pos;
                degree = 7;
            }
            const int v = (std::fmod(pos, 1.0) == 0 ? 86 : 74) + rng.below(10);
            add(base + 12 + Degree(recipe, degree), b0 + pos, b0 + pos + len, v);
            pos += len;
            degree += rng.below(5) - 2;
            degree = std::clamp(degree, 3, 13);
        }
    }
    std::sort(piece.notes.begin(), piece.notes.end(),
              [](const TranscribedNote& a, const TranscribedNote& b) { return a.onset < b.onset; });
    // The reference beats stop with the last bar (its last beat is the end).
    piece.beats.pop_back();
    return piece;
}

Piece MakeScale(int tonic, bool minor) {
    Piece p;
    p.recipe.tonic = tonic;
    p.recipe.minor = minor;
    const double q = 0.6;
    const int base = 60 + tonic - (tonic > 6 ? 12 : 0);
    int k = 0;
    const int up[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    for (int d : up) p.notes.push_back({base + Degree(p.recipe, d), 0.5 + q * k, 0.5 + q * (k + 1) - 0.02, 80}), ++k;
    for (int i = 6; i >= 0; --i) {
        const double len = i == 0 ? 4 * q : q;
        p.notes.push_back({base + Degree(p.recipe, i), 0.5 + q * k, 0.5 + q * k + len - 0.02, 80});
        ++k;
    }
    return p;
}

Piece MakeCadence(int tonic, bool minor) {
    Piece p;
    p.recipe.tonic = tonic;
    p.recipe.minor = minor;
    const int base = 60 + tonic - (tonic > 6 ? 12 : 0);
    const int roots[4] = {0, 3, 4, 0};
    for (int c = 0; c < 4; ++c) {
        const double on = 0.5 + 1.2 * c, off = on + (c == 3 ? 2.4 : 1.15);
        p.notes.push_back({base - 12 + Degree(p.recipe, roots[c]), on, off, 85});
        for (int k = 0; k < 3; ++k) p.notes.push_back({base + Degree(p.recipe, roots[c] + 2 * k), on, off, 75});
    }
    return p;
}

bool WriteRenderMidi(const Piece& piece, const std::string& path) {
    struct Ev {
        uint32_t tick;
        int order;
        uint8_t status, a, b;
    };
    std::vector<Ev> ev;
    for (const auto& n : piece.notes) {
        ev.push_back({uint32_t(std::llround(n.onset * 2000)), 1, 0x90, uint8_t(n.pitch), uint8_t(n.velocity)});
        ev.push_back({uint32_t(std::llround(n.offset * 2000)), 0, 0x80, uint8_t(n.pitch), 64});
    }
    std::stable_sort(ev.begin(), ev.end(),
                     [](const Ev& x, const Ev& y) { return x.tick != y.tick ? x.tick < y.tick : x.order < y.order; });
    std::string track;
    track += std::string("\x00\xC0", 2);
    track.push_back(char(piece.recipe.program));
    uint32_t prev = 0;
    for (const Ev& e : ev) {
        PutVar(track, e.tick - prev);
        prev = e.tick;
        track.push_back(char(e.status));
        track.push_back(char(e.a));
        track.push_back(char(e.b));
    }
    PutVar(track, 2000);  // a second of silence for the last notes' release
    track += std::string("\xFF\x2F\x00", 3);
    std::string out("MThd\x00\x00\x00\x06\x00\x00\x00\x01\x03\xE8", 14);
    out += "MTrk";
    Put32(out, uint32_t(track.size()));
    out += track;
    std::ofstream f(path, std::ios::binary);
    f.write(out.data(), std::streamsize(out.size()));
    return bool(f);
}

bool HaveFluidsynth() {
    return std::system("command -v fluidsynth >/dev/null 2>&1") == 0 && std::ifstream(kTestSoundFont).good();
}

bool Render(const std::string& midiPath, const std::string& wavPath, const std::string& soundFont, int rate) {
    const std::string cmd = "fluidsynth -ni -q -g 0.5 -r " + std::to_string(rate) + " -F '" + wavPath + "' '" +
                            soundFont + "' '" + midiPath + "' >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

bool RenderPiece(const Piece& piece, const std::string& midiPath, const std::string& wavPath, int rate) {
    return WriteRenderMidi(piece, midiPath) && Render(midiPath, wavPath, kTestSoundFont, rate);
}

std::vector<float> ClickTrack(const std::vector<double>& times, double seconds, int rate) {
    std::vector<float> x(size_t(seconds * rate), 0.0f);
    const size_t len = size_t(0.02 * rate);
    for (double t : times) {
        const size_t s = size_t(std::llround(t * rate));
        for (size_t i = 0; i < len && s + i < x.size(); ++i) {
            const double u = double(i) / rate;
            x[s + i] += float(0.5 * std::exp(-u * 200) * std::sin(2 * M_PI * 1000 * u));
        }
    }
    return x;
}

OnsetEnvelope ClickEnvelope(const std::vector<double>& clicks) {
    const std::vector<float> x = ClickTrack(clicks, clicks.back() + 1, 22050);
    return ComputeOnsetEnvelope(x.data(), x.size(), 22050);
}

bool HaveMido() { return std::system("/usr/bin/python3 -c 'import mido' 2>/dev/null") == 0; }

MidoReading ReadWithMido(const std::string& path) {
    const std::string cmd =
        "/usr/bin/python3 '" NOTAVOX_SOURCE_DIR "/tests/rhythm/midi_times.py' '" + path + "' 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    while (p && fgets(buf, sizeof buf, p)) out += buf;
    if (p) pclose(p);
    std::istringstream in(out);
    MidoReading r;
    std::map<int, std::vector<size_t>> open;
    std::string kind;
    long long value, tick;
    double t;
    while (in >> kind >> value >> t >> tick) {
        if (kind == "tempo") {
            r.tempos.push_back({uint32_t(value), t, tick});
        } else if (kind == "on") {
            open[int(value)].push_back(r.notes.size());
            r.notes.push_back({int(value), t, -1, tick, -1});
        } else if (kind == "off" && !open[int(value)].empty()) {
            MidoNote& n = r.notes[open[int(value)].front()];
            n.offset = t;
            n.offTick = tick;
            open[int(value)].erase(open[int(value)].begin());
        }
    }
    return r;
}

}  // namespace notavox::testing
