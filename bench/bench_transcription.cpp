// Converts a 60-minute 44.1 kHz 16-bit stereo recording with dense polyphony
// (chords that change every 100 to 300 ms) to MIDI the way "Speichern als
// MID..." and notavox-convert do, and prints the speed of every stage.
//   bench_transcription [minutes] [folder]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "transcription/MidiConversion.h"

using namespace notavox;
using namespace notavox::bench;

namespace {

// Chords of three or four notes from a few keys, each held 100..300 ms, with
// a melody note on top.
ChordPicker denseChords(int32_t rate) {
    return [rate](const std::function<uint32_t()>& next, Chord& chord) {
        static const int chords[][4] = {{48, 52, 55, 60}, {45, 48, 52, 57}, {41, 45, 48, 53}, {43, 47, 50, 55},
                                        {50, 53, 57, 62}, {52, 55, 59, 64}, {40, 47, 52, 56}, {38, 45, 50, 54}};
        const int* c = chords[next() % 8];
        const int voices = 3 + int(next() % 2);
        for (int v = 0; v < kVoices; ++v) {
            int note = v < voices ? c[v] + 12 * int(next() % 2) : (v == 4 ? 72 + int(next() % 12) : 0);
            if (v >= voices && v < 4) note = 0;
            chord.frequency[v] = note ? 440.0 * std::pow(2.0, (note - 69) / 12.0) : 0;
            chord.level[v] = note ? 0.15f : 0.0f;
        }
        return int64_t(rate / 10) + int64_t(next() % uint32_t(rate / 5));
    };
}

}  // namespace

int main(int argc, char** argv) {
    const auto [minutes, dir, rate, frames, wav, mid] = benchSetup(argc, argv, "bench_transcription");

    std::printf("Making %.0f minutes of 44.1 kHz 16-bit stereo with chords every 100..300 ms...\n", minutes);
    const Timbre timbre{12345, 1, 1.0f, 30000.0f, 24000.0f};
    const long baseKb = writeRecording(wav, frames, rate, timbre, denseChords(rate));
    if (baseKb < 0) return 1;

    const auto t0 = Clock::now();
    AudioDocument doc;
    if (!readRecording(wav, doc)) return 1;
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
