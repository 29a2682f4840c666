// The cost of beat tracking for a 60-minute 44.1 kHz 16-bit stereo recording
// (generated pieces of decaying harmonic tones at 70 to 160 beats a minute,
// one after another): onset envelope, tempo and beats, metre and key, with
// the share of each stage. The budget is a tenth of the accurate analysis
// (60 minutes in 12 s), so well under a second.
//   bench_rhythm [minutes]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "rhythm/RhythmAnalysis.h"
#include "tests/rhythm/RhythmTestSupport.h"

using namespace notavox;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

}  // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 60.0;
    const int rate = 44100;
    const int64_t frames = int64_t(minutes * 60 * rate);
    // Pieces of about a minute each, their notes shifted one after another.
    std::vector<TranscribedNote> notes;
    double offset = 0;
    for (uint32_t k = 0; offset < minutes * 60; ++k) {
        testing::PieceSpec s;
        s.bpm = 70 + 10 * (k % 10);
        s.beatsPerBar = 3 + int(k % 2);
        s.bars = int(s.bpm / s.beatsPerBar);
        s.tonic = int(k % 12);
        s.seed = k + 1;
        s.accompaniment = testing::Accompaniment(k % 4);
        s.start = 0;
        const testing::Piece p = testing::MakePiece(s);
        for (TranscribedNote n : p.notes) {
            n.onset += offset;
            n.offset += offset;
            if (n.onset < minutes * 60) notes.push_back(n);
        }
        offset += p.beats.back() + 60.0 / s.bpm;
    }
    // Each note: a tone with two harmonics decaying over at most a second,
    // from a rotating phasor (no trigonometric call per sample).
    std::vector<float> mix(size_t(frames), 0.0f);
    for (const TranscribedNote& n : notes) {
        const double f = 440.0 * std::pow(2.0, (n.pitch - 69) / 12.0);
        const int64_t a = int64_t(n.onset * rate);
        const int64_t b = std::min(frames, int64_t(std::min(n.offset, n.onset + 1.0) * rate));
        const double w = 2 * M_PI * f / rate, decay = std::exp(-3.0 / rate);
        const double cw = std::cos(w), sw = std::sin(w);
        double re = 1, im = 0, level = double(n.velocity) / 127.0 * 0.08;
        for (int64_t i = a; i < b; ++i) {
            // sin(2x) = 2 sin x cos x
            mix[size_t(i)] += float(level * (im + im * re));
            const double r2 = re * cw - im * sw;
            im = re * sw + im * cw;
            re = r2;
            level *= decay;
        }
    }
    AudioDocument doc;
    SampleBlock block = allocateBlock(size_t(frames) * 4);
    for (int64_t i = 0; i < frames; ++i) {
        const int16_t v = int16_t(std::lround(std::fmax(-1.0f, std::fmin(1.0f, mix[size_t(i)])) * 32000));
        std::memcpy(block.get() + 4 * i, &v, 2);
        std::memcpy(block.get() + 4 * i + 2, &v, 2);
    }
    doc.replace(std::move(block), int32_t(frames * 4), rate, true, true);
    mix = {};

    std::printf("Beat tracking of %.0f min at 44.1 kHz stereo (%u cores), %zu notes\n", minutes,
                std::thread::hardware_concurrency(), notes.size());
    for (int run = 0; run < 3; ++run) {
        const auto t0 = Clock::now();
        const OnsetEnvelope env = ComputeOnsetEnvelope(doc);
        const auto t1 = Clock::now();
        const std::vector<float> novelty = BeatNovelty(env.flux, env.frameRate);
        const BeatTrack beats = TrackBeats(novelty, env.frameRate);
        const auto t2 = Clock::now();
        const Metre metre = EstimateMetre(env, beats.beats, notes);
        const KeyEstimate key = EstimateKey(notes);
        const auto t3 = Clock::now();
        const double total = Seconds(t0, t3);
        std::printf("run %d: %.3f s (%.0f times realtime): envelope %.3f s (%.0f %%), tempo and beats %.3f s "
                    "(%.0f %%), metre and key %.3f s (%.0f %%); %zu beats, %.1f bpm, %d/%d, %s; budget 1.2 s\n",
                    run + 1, total, minutes * 60 / total, Seconds(t0, t1), 100 * Seconds(t0, t1) / total,
                    Seconds(t1, t2), 100 * Seconds(t1, t2) / total, Seconds(t2, t3), 100 * Seconds(t2, t3) / total,
                    beats.beats.size(), beats.tempoBpm, metre.numerator(), metre.denominator(), key.name().c_str());
    }
    return 0;
}
