// Converts a 60-minute 44.1 kHz 16-bit stereo recording with dense polyphony
// (chords that change every 100 to 300 ms) to MIDI the way "Speichern als
// MID..." and notavox-convert do, and prints the speed of every stage.
//   bench_transcription [minutes] [folder]
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

#include "audio/WavFile.h"
#include "transcription/MidiConversion.h"

using namespace notavox;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

long statusKb(const char* key) {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line)) {
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
    }
    return -1;
}

void resetPeak() {
    std::ofstream f("/proc/self/clear_refs");
    f << "5";
}

// Chords of three or four notes from a few keys, each held 100..300 ms, with
// a melody note on top; sine oscillators from a table, phase in 32 bits.
std::vector<uint8_t> synthesize(int64_t frames, int32_t rate) {
    std::vector<uint8_t> out(size_t(frames) * 4);
    constexpr int kTable = 4096;
    std::vector<float> table(kTable);
    for (int i = 0; i < kTable; ++i) table[size_t(i)] = float(std::sin(2 * M_PI * i / kTable));
    uint32_t rng = 12345;
    auto next = [&] {
        rng = rng * 1664525u + 1013904223u;
        return rng >> 8;
    };
    const int chords[][4] = {{48, 52, 55, 60}, {45, 48, 52, 57}, {41, 45, 48, 53}, {43, 47, 50, 55},
                             {50, 53, 57, 62}, {52, 55, 59, 64}, {40, 47, 52, 56}, {38, 45, 50, 54}};
    uint32_t phase[5] = {0, 0, 0, 0, 0};
    uint32_t step[5] = {0, 0, 0, 0, 0};
    float level[5] = {0, 0, 0, 0, 0};
    int64_t until = 0;
    for (int64_t i = 0; i < frames; ++i) {
        if (i == until) {
            const int* c = chords[next() % 8];
            const int voices = 3 + int(next() % 2);
            for (int v = 0; v < 5; ++v) {
                int note = v < voices ? c[v] + 12 * int(next() % 2) : (v == 4 ? 72 + int(next() % 12) : 0);
                if (v >= voices && v < 4) note = 0;
                const double f = note ? 440.0 * std::pow(2.0, (note - 69) / 12.0) : 0;
                step[v] = uint32_t(f / rate * 4294967296.0);
                level[v] = note ? 0.15f : 0.0f;
            }
            until = i + rate / 10 + int64_t(next() % uint32_t(rate / 5));
        }
        float s = 0;
        for (int v = 0; v < 5; ++v) {
            s += level[v] * table[phase[v] >> 20];
            phase[v] += step[v];
        }
        const int16_t l = int16_t(s * 30000);
        const int16_t r = int16_t(s * 24000);
        std::memcpy(&out[size_t(i) * 4], &l, 2);
        std::memcpy(&out[size_t(i) * 4 + 2], &r, 2);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 60.0;
    const std::string dir = argc > 2 ? argv[2] : TempFolder();
    const int32_t rate = 44100;
    const int64_t frames = int64_t(minutes * 60 * rate);
    const std::string wav = dir + "/bench_transcription.wav";
    const std::string mid = dir + "/bench_transcription.mid";

    std::printf("Making %.0f minutes of 44.1 kHz 16-bit stereo with chords every 100..300 ms...\n", minutes);
    {
        std::vector<uint8_t> pcm = synthesize(frames, rate);
        if (!WriteWAVFile(wav, pcm.data(), true, true, rate, int32_t(pcm.size()))) {
            std::fprintf(stderr, "cannot write %s\n", wav.c_str());
            return 1;
        }
    }
    if (std::system(("cat '" + wav + "' > /dev/null").c_str()) != 0) return 1;  // warm the page cache
    // A guest system can hand the pages of the synthesized recording, freed
    // only just now, straight back to the reader; a few seconds later they
    // are gone and the reader gets fresh memory as a program that opens a file
    // does.
    ::sleep(3);
    resetPeak();
    const long baseKb = statusKb("VmHWM:");

    const auto t0 = Clock::now();
    WavData data;
    if (!ReadWAVFile(wav, data)) return 1;
    AudioDocument doc;
    doc.replace(std::move(data.block), data.byteCount, data.sampleRate, data.stereo, data.sixteenBit);
    const auto t1 = Clock::now();
    const int64_t recordingBytes = doc.byteCount;
    Song song;
    OperationHost host;
    const MidiConversionOutcome out = ConvertRecordingToMIDI(doc, song, mid, host);
    const auto t2 = Clock::now();
    if (out.result != MidiConversionResult::Written) {
        std::fprintf(stderr, "conversion failed\n");
        return 1;
    }
    const long peakKb = statusKb("VmHWM:");

    const double readS = seconds(t0, t1);
    const double total = seconds(t0, t2);
    const double audio = double(frames) / rate;
    const double convertedMb = double(recordingBytes / 4) / 1048576.0;
    const double recordingMb = double(recordingBytes) / 1048576.0;
    const double peakMb = double(peakKb - baseKb) / 1024.0;
    auto share = [&](double s) { return 100.0 * s / total; };
    std::printf("Transcription of %.0f min (%u cores)\n", minutes, std::thread::hardware_concurrency());
    std::printf("  total          %8.3f s   realtime factor %.0fx (target >= 2000x)\n", total, audio / total);
    std::printf("  windows        %8d     %.0f windows/s in the detection, %.0f windows/s overall\n", out.windows,
                out.windows / out.detectionSeconds, out.windows / total);
    std::printf("  detections     %8lld     notes %lld\n", static_cast<long long>(out.detections),
                static_cast<long long>(out.notes));
    std::printf("  read WAV       %8.3f s   %5.1f %%\n", readS, share(readS));
    std::printf("  standard fmt   %8.3f s   %5.1f %%\n", out.formatSeconds, share(out.formatSeconds));
    std::printf("  detection      %8.3f s   %5.1f %%\n", out.detectionSeconds, share(out.detectionSeconds));
    std::printf("  assembly       %8.3f s   %5.1f %%   (target <= 10 %%)\n", out.assemblySeconds,
                share(out.assemblySeconds));
    std::printf("  MIDI file      %8.3f s   %5.1f %%\n", out.writeSeconds, share(out.writeSeconds));
    std::printf("  peak memory    %8.1f MB  (target <= recording %.1f MB + converted %.1f MB + 64 MB = %.1f MB)\n",
                peakMb, recordingMb, convertedMb, recordingMb + convertedMb + 64.0);
    std::remove(wav.c_str());
    std::remove(mid.c_str());
    return 0;
}
