// Decodes and encodes a 10-minute 44100 Hz stereo recording and compares the
// times with the mpg123 and lame commands on the same files. The two
// contenders of each pair run in turn, three rounds; each one's best counts.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "audio/WavFile.h"
#include "codecs/Mp3Export.h"
#include "codecs/Mp3Import.h"

using namespace notavox;
using Clock = std::chrono::steady_clock;

namespace {

// Runs two contenders in turn, three rounds, and keeps each one's best time,
// so that a busy moment of the machine hits both alike.
std::pair<double, double> bestOfAlternating(const std::function<bool()>& a, const std::function<bool()>& b) {
    double ta = 1e30, tb = 1e30;
    for (int i = 0; i < 3; ++i) {
        for (int which = 0; which < 2; ++which) {
            const auto t0 = Clock::now();
            if (!(which == 0 ? a() : b())) {
                std::fprintf(stderr, "a contender failed\n");
                std::exit(1);
            }
            const double t = std::chrono::duration<double>(Clock::now() - t0).count();
            (which == 0 ? ta : tb) = std::min(which == 0 ? ta : tb, t);
        }
    }
    return {ta, tb};
}

bool sh(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? std::string(argv[1]) + "/" : TempFolder();
    const std::string src = dir + "bench_codecs_src.wav";
    const std::string lameOut = dir + "bench_codecs_lame.mp3";
    const std::string ourMp3 = dir + "bench_codecs_ours.mp3";
    const std::string mpgOut = dir + "bench_codecs_mpg123.wav";
    const std::string ourWav = dir + "bench_codecs_ours.wav";
    const int32_t rate = 44100;
    const double seconds = 600;
    const int32_t frames = int32_t(rate * seconds);

    // A chord with a slow vibrato and a little noise, so the encoder has work.
    AudioDocument doc;
    SampleBlock block = allocateBlock(size_t(frames) * 4);
    uint32_t x = 1;
    for (int32_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double vib = 1 + 0.01 * std::sin(2 * M_PI * 5 * t);
        for (int c = 0; c < 2; ++c) {
            x = x * 1664525u + 1013904223u;
            const double v = 0.25 * std::sin(2 * M_PI * (c ? 261.6 : 329.6) * vib * t) +
                             0.15 * std::sin(2 * M_PI * 392.0 * t + c) + 0.02 * (double(x >> 8) / 8388608.0 - 1);
            const int16_t s = int16_t(std::lround(v * 32767));
            std::memcpy(block.get() + (size_t(i) * 2 + size_t(c)) * 2, &s, 2);
        }
    }
    doc.replace(std::move(block), frames * 4, rate, true, true);
    if (!WriteWAVFile(src, doc.sampleData.get(), true, true, rate, doc.byteCount)) return 1;

    OperationHost host;
    const auto [lameTime, encTime] = bestOfAlternating(
        [&] { return sh("lame --quiet -b 128 -q 2 -m s '" + src + "' '" + lameOut + "'"); },
        [&] { return SaveAsMP3File(ourMp3, doc, 44100, 128, host, *MakeLameEncoder()).status == Mp3ExportStatus::Ok; });

    const std::unique_ptr<Mp3Decoder> decoder = MakeMpg123Decoder();
    const auto [mpgTime, decTime] = bestOfAlternating(
        [&] { return sh("mpg123 -q -w '" + mpgOut + "' '" + lameOut + "'"); },
        [&] {
            AudioDocument decoded;
            return DecodeMp3File(lameOut, *decoder, host, decoded).status == Mp3ImportStatus::Ok;
        });

    std::printf("10-minute 44100 Hz 16-bit stereo recording (%.0f s of audio)\n", seconds);
    std::printf("export  SaveAsMP3File          %7.3f s  %7.1fx realtime\n", encTime, seconds / encTime);
    std::printf("        lame -b 128 -q 2 -m s  %7.3f s  %7.1fx realtime\n", lameTime, seconds / lameTime);
    std::printf("        ratio %.3f (target <= 1.1)\n", encTime / lameTime);
    std::printf("import  DecodeMp3File          %7.3f s  %7.1fx realtime\n", decTime, seconds / decTime);
    std::printf("        mpg123 -w              %7.3f s  %7.1fx realtime\n", mpgTime, seconds / mpgTime);
    std::printf("        ratio %.3f (target <= 1.3)\n", decTime / mpgTime);

    for (const std::string& f : {src, lameOut, ourMp3, mpgOut, ourWav}) std::remove(f.c_str());
    return 0;
}
