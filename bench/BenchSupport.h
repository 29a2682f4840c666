// What the conversion benchmarks share: clocks, the peak memory, the
// synthesized music they convert and the 60-minute recording it goes into.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "audio/AudioDocument.h"
#include "audio/WavFile.h"

namespace notavox::bench {

using Clock = std::chrono::steady_clock;

inline double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Processor time of all threads of the process.
inline double processorSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A figure of /proc/self/status in kB (key such as "VmHWM:"), -1 if missing.
inline long statusKb(const char* key) {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line)) {
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
    }
    return -1;
}

inline void resetPeak() {
    std::ofstream f("/proc/self/clear_refs");
    f << "5";
}

// The command line of a conversion bench, `NAME [minutes] [folder]`, and
// the files it makes in the folder (the system's temporary one by default).
struct BenchSetup {
    double minutes;
    std::string dir;
    int32_t rate;
    int64_t frames;
    std::string wav, mid;
};

inline BenchSetup benchSetup(int argc, char** argv, const std::string& name) {
    BenchSetup b;
    b.minutes = argc > 1 ? std::atof(argv[1]) : 60.0;
    b.dir = argc > 2 ? argv[2] : TempFolder();
    b.rate = 44100;
    b.frames = int64_t(b.minutes * 60 * b.rate);
    b.wav = b.dir + "/" + name + ".wav";
    b.mid = b.dir + "/" + name + ".mid";
    return b;
}

inline constexpr int kVoices = 5;

// The voices of the next chord: frequency (0: silent) and level of each.
struct Chord {
    double frequency[kVoices] = {};
    float level[kVoices] = {};
};

// Picks the next chord from `random` and returns how many frames it lasts.
using ChordPicker = std::function<int64_t(const std::function<uint32_t()>& random, Chord& chord)>;

// How the music sounds besides its chords.
struct Timbre {
    uint32_t seed = 1;     // of the random numbers handed to the picker
    int harmonics = 1;     // per voice, each at half the level of the one below
    float decay = 1.0f;    // of every voice's level per frame
    float left = 30000.0f, right = 30000.0f;  // output scale of the two channels
};

// 16-bit stereo of five sine voices from a table, phase in 32 bits.
inline std::vector<uint8_t> synthesize(int64_t frames, int32_t rate, const Timbre& timbre, const ChordPicker& pick) {
    std::vector<uint8_t> out(size_t(frames) * 4);
    constexpr int kTable = 4096, kMaxHarmonics = 8;
    std::vector<float> table(kTable);
    for (int i = 0; i < kTable; ++i) table[size_t(i)] = float(std::sin(2 * M_PI * i / kTable));
    uint32_t rng = timbre.seed;
    const std::function<uint32_t()> next = [&] {
        rng = rng * 1664525u + 1013904223u;
        return rng >> 8;
    };
    const int harmonics = std::min(timbre.harmonics, kMaxHarmonics);
    uint32_t phase[kVoices][kMaxHarmonics] = {}, step[kVoices][kMaxHarmonics] = {};
    float level[kVoices] = {};
    int64_t until = 0;
    for (int64_t i = 0; i < frames; ++i) {
        if (i == until) {
            Chord chord;
            until = i + pick(next, chord);
            for (int v = 0; v < kVoices; ++v) {
                for (int h = 0; h < harmonics; ++h)
                    step[v][h] = uint32_t(chord.frequency[v] * (h + 1) / rate * 4294967296.0);
                level[v] = chord.level[v];
            }
        }
        float s = 0;
        for (int v = 0; v < kVoices; ++v) {
            float a = level[v];
            for (int h = 0; h < harmonics; ++h) {
                s += a * table[phase[v][h] >> 20];
                phase[v][h] += step[v][h];
                a *= 0.5f;
            }
            level[v] *= timbre.decay;
        }
        const int16_t l = int16_t(s * timbre.left);
        const int16_t r = int16_t(s * timbre.right);
        std::memcpy(&out[size_t(i) * 4], &l, 2);
        std::memcpy(&out[size_t(i) * 4 + 2], &r, 2);
    }
    return out;
}

// Writes the music as the 16-bit stereo WAV file `wav` and readies
// the measurement: the file in the page cache and the peak memory reset.
// Returns the memory in use then (kB), or -1 when the file was not written.
inline long writeRecording(const std::string& wav, int64_t frames, int32_t rate, const Timbre& timbre,
                           const ChordPicker& pick) {
    {
        std::vector<uint8_t> pcm = synthesize(frames, rate, timbre, pick);
        if (!WriteWAVFile(wav, pcm.data(), true, true, rate, int32_t(pcm.size()))) {
            std::fprintf(stderr, "cannot write %s\n", wav.c_str());
            return -1;
        }
    }
    if (std::system(("cat '" + wav + "' > /dev/null").c_str()) != 0) return -1;  // warm the page cache
    // A guest system can hand the pages of the synthesized recording, freed
    // only just now, straight back to the reader; a few seconds later they
    // are gone and the reader gets fresh memory as a program that opens a file
    // does.
    ::sleep(3);
    resetPeak();
    return statusKb("VmHWM:");
}

// Reads the WAV file into the recording, as opening it in the window does.
inline bool readRecording(const std::string& wav, AudioDocument& doc) {
    WavData data;
    if (!ReadWAVFile(wav, data)) return false;
    doc.replace(std::move(data.block), data.byteCount, data.sampleRate, data.stereo, data.sixteenBit);
    return true;
}

}  // namespace notavox::bench
