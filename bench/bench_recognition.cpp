// Converts a 60-minute 44.1 kHz 16-bit stereo recording to MIDI with the
// accurate analysis (notavox-convert --accurate), from reading the WAV file
// to writing the tempo-mapped MIDI file, and prints the speed and the share of
// each stage, and the cost of the beat tracking against the rest.
//   bench_recognition [minutes] [folder]
// The shipped model is used when the build has it, else one with random
// weights of 16 channels per layer (the same amount of work).
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "recognition/Recogniser.h"
#include "rhythm/TempoMappedExport.h"

using namespace notavox;
using namespace notavox::recognition;
using namespace notavox::bench;

namespace {

// Two hands of piano-like tones: chords every 150..400 ms with a melody on
// top, each voice with four decaying harmonics.
ChordPicker pianoChords(int32_t rate) {
    return [rate](const std::function<uint32_t()>& next, Chord& chord) {
        const int root = 36 + int(next() % 24);
        const int shape[kVoices] = {0, 4 + int(next() % 2), 7, 12, 19 + int(next() % 12)};
        for (int v = 0; v < kVoices; ++v) {
            chord.frequency[v] = 440.0 * std::pow(2.0, (root + shape[v] - 69) / 12.0);
            chord.level[v] = 0.06f + 0.05f * float(next() % 100) / 100.0f;
        }
        return int64_t(rate * 3 / 20) + int64_t(next() % uint32_t(rate / 4));
    };
}

// A weights file with random weights of 16 channels per layer.
void writeRandomModel(const std::string& path) {
    std::mt19937 rng(1);
    std::normal_distribution<float> normal(0.0f, 0.2f);
    std::string f;
    auto u32 = [&](uint32_t v) { f.append(reinterpret_cast<const char*>(&v), 4); };
    const std::vector<std::pair<std::string, std::vector<uint32_t>>> tensors = {
        {"l1.weight", {16, 8}},          {"l1.bias", {16}},         {"l2.weight", {16, 16, 3, 3}},
        {"l2.bias", {16}},               {"l3.weight", {16, 16, 3, 3}}, {"l3.bias", {16}},
        {"l4.weight", {16, 16, 3}},      {"l4.bias", {16}},         {"l5.weight", {16, 16, 3}},
        {"l5.bias", {16}},               {"onset.weight", {16, 3}}, {"onset.bias", {88}},
        {"frame.weight", {16, 3}},       {"frame.bias", {88}},      {"velocity.weight", {16, 3}},
        {"velocity.bias", {88}},         {"decode.onset_threshold", {1}}, {"decode.frame_threshold", {1}},
        {"decode.min_frames", {1}}};
    f = "NVNM";
    u32(recognition::kModelVersion);
    u32(uint32_t(tensors.size()));
    for (const auto& [name, dims] : tensors) {
        const uint16_t len = uint16_t(name.size());
        f.append(reinterpret_cast<const char*>(&len), 2);
        f += name;
        f.push_back(char(dims.size()));
        size_t n = 1;
        for (uint32_t d : dims) {
            u32(d);
            n *= d;
        }
        for (size_t i = 0; i < n; ++i) {
            float v = normal(rng);
            if (name == "decode.onset_threshold") v = 0.6f;
            if (name == "decode.frame_threshold") v = 0.5f;
            if (name == "decode.min_frames") v = 3.0f;
            f.append(reinterpret_cast<const char*>(&v), 4);
        }
    }
    u32(recognition::ModelChecksum(f.data(), f.size()));
    std::ofstream(path, std::ios::binary) << f;
}

}  // namespace

int main(int argc, char** argv) {
    const auto [minutes, dir, rate, frames, wav, mid] = benchSetup(argc, argv, "bench_recognition");
    std::string model = std::string(NOTAVOX_BINARY_DIR) + "/notes.nvm";
    const bool shipped = ::access(model.c_str(), R_OK) == 0;
    if (!shipped) {
        model = dir + "/bench_recognition.nvm";
        writeRandomModel(model);
    }

    std::printf("Making %.0f minutes of 44.1 kHz 16-bit stereo with chords every 150..400 ms...\n", minutes);
    const Timbre timbre{4711, 4, 0.99995f, 30000.0f, 26000.0f};
    const long baseKb = writeRecording(wav, frames, rate, timbre, pianoChords(rate));
    if (baseKb < 0) return 1;

    const auto t0 = Clock::now();
    const double cpu0 = processorSeconds();
    AudioDocument doc;
    if (!readRecording(wav, doc)) return 1;
    const auto t1 = Clock::now();
    const double readCpu = processorSeconds() - cpu0;
    OperationHost host;
    const std::atomic<bool> cancel{false};
    // The file as notavox-convert --accurate writes it, the rhythm analysis timed.
    double rhythmWall = 0, rhythmCpu = 0;
    const NotesWriter write = [&](const std::vector<TranscribedNote>& notes, const std::string& fileName) {
        const auto a0 = Clock::now();
        const double c0 = processorSeconds();
        const TempoAnalysis analysis = AnalyseTempo(doc, notes);
        rhythmWall = seconds(a0, Clock::now());
        rhythmCpu = processorSeconds() - c0;
        return SaveTempoMapped(analysis, notes, TempoChoices(), fileName);
    };
    const AccurateOutcome out = Recogniser(model).convert(doc, mid, host, cancel, 0, write);
    const auto t2 = Clock::now();
    if (out.result != AccurateResult::Written) {
        std::fprintf(stderr, "conversion failed: %s\n", out.message.c_str());
        return 1;
    }
    const long peakKb = statusKb("VmHWM:");

    const double readS = seconds(t0, t1);
    const double total = seconds(t0, t2);
    const double audio = double(frames) / rate;
    const double recordingMb = double(doc.byteCount) / 1048576.0;
    const double peakMb = double(peakKb - baseKb) / 1024.0;
    auto share = [&](double s) { return 100.0 * s / total; };
    const StageTimes& st = out.times;
    std::printf("Accurate analysis of %.0f min (%u cores, %s model)\n", minutes, std::thread::hardware_concurrency(),
                shipped ? "shipped" : "random 16/16/16");
    std::printf("  total          %8.3f s   realtime factor %.0fx (target >= 300x)\n", total, audio / total);
    std::printf("  frames         %8lld     %.0f frames/s overall, notes %lld\n", static_cast<long long>(out.frames),
                double(out.frames) / total, static_cast<long long>(out.notes));
    // The machine may be shared: beside the wall clock, the processor time of
    // both threads, and the realtime factor it gives with two free cores.
    const double cpu = st.peakCpu + st.resampleCpu + st.featuresCpu + st.networkCpu + st.decodeCpu + st.writeCpu + readCpu;
    std::printf("  processor time %8.3f s   realtime factor with two free cores about %.0fx\n", cpu,
                audio / (cpu / 2));
    std::printf("                     wall s   share   processor s\n");
    auto row = [&](const char* name, double wall, double c) {
        std::printf("  %-14s %8.3f   %5.1f %%  %8.3f\n", name, wall, share(wall), c);
    };
    row("read WAV", readS, readCpu);
    row("mono+resample", st.peak + st.resample, st.peakCpu + st.resampleCpu);
    row("features", st.features, st.featuresCpu);
    row("network", st.network, st.networkCpu);
    row("decode", st.decode, st.decodeCpu);
    row("beats+key", rhythmWall, rhythmCpu);
    row("MIDI file", st.write - rhythmWall, st.writeCpu - rhythmCpu);
    std::printf("  network        %.1f G multiply-adds per processor second\n",
                double(out.frames) * 587e3 / st.networkCpu / 1e9);
    std::printf("  beat tracking, metre and key: %.1f %% of the rest of the analysis, processor time %.1f %% "
                "(target <= 10 %%)\n",
                100 * rhythmWall / (total - rhythmWall), 100 * rhythmCpu / (cpu - rhythmCpu));
    std::printf("  peak memory    %8.1f MB  (target <= recording %.1f MB + 150 MB = %.1f MB)\n", peakMb, recordingMb,
                recordingMb + 150.0);
    std::remove(wav.c_str());
    std::remove(mid.c_str());
    if (!shipped) std::remove(model.c_str());
    return 0;
}
