// Reads and writes a 1 GB 16-bit stereo WAV file and compares both with a
// plain copy of the same file (cp) on the same machine.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "audio/WavFile.h"

using namespace notavox;
using Clock = std::chrono::steady_clock;

static double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : TempFolder();
    const std::string src = dir + "/bench_wav_src.wav";
    const std::string dst = dir + "/bench_wav_dst.wav";
    const std::string cpy = dir + "/bench_wav_cp.wav";
    const int32_t bytes = 1 << 30;

    SampleBlock block = allocateBlock(bytes);
    if (!block) {
        std::fprintf(stderr, "out of memory\n");
        return 1;
    }
    uint32_t x = 12345;
    for (int32_t i = 0; i < bytes; i += 4) {
        x = x * 1664525u + 1013904223u;
        std::memcpy(block.get() + i, &x, 4);
    }
    if (!WriteWAVFile(src, block.get(), true, true, 44100, bytes)) return 1;
    block.reset();
    ::sync();

    // Warm the page cache the same way for every contender.
    std::string cat = "cat '" + src + "' > /dev/null";
    if (std::system(cat.c_str()) != 0) return 1;

    // Fresh memory is expensive on some machines the first time it is
    // touched, so every contender runs three times, interleaved, and its best
    // time counts. Each run starts with no dirty pages waiting.
    double cpTime = 1e9, readTime = 1e9, writeTime = 1e9;
    const std::string cp = "cp '" + src + "' '" + cpy + "'";
    for (int round = 0; round < 3; ++round) {
        std::remove(cpy.c_str());
        ::sync();
        auto t0 = Clock::now();
        if (std::system(cp.c_str()) != 0) return 1;
        cpTime = std::min(cpTime, seconds(t0, Clock::now()));
        ::sync();

        WavData wav;
        t0 = Clock::now();
        if (!ReadWAVFile(src, wav)) return 1;
        readTime = std::min(readTime, seconds(t0, Clock::now()));
        ::sync();

        std::remove(dst.c_str());
        ::sync();
        t0 = Clock::now();
        if (!WriteWAVFile(dst, wav.block.get(), wav.stereo, wav.sixteenBit, wav.sampleRate, wav.byteCount))
            return 1;
        writeTime = std::min(writeTime, seconds(t0, Clock::now()));
    }

    const double mb = bytes / 1048576.0;
    std::printf("WAV 1 GB 16-bit stereo\n");
    std::printf("  cp     %7.3f s  %8.1f MB/s\n", cpTime, mb / cpTime);
    std::printf("  read   %7.3f s  %8.1f MB/s  speed vs cp: %.2f\n", readTime, mb / readTime, cpTime / readTime);
    std::printf("  write  %7.3f s  %8.1f MB/s  speed vs cp: %.2f\n", writeTime, mb / writeTime, cpTime / writeTime);
    std::remove(src.c_str());
    std::remove(dst.c_str());
    std::remove(cpy.c_str());
    return 0;
}
