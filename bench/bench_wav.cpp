// Reads and writes a 1 GB 16-bit stereo WAV file and compares both with a
// plain copy of the same file (cp) on the same machine.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
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
    // time counts. Each run starts with no dirty pages waiting, and a few
    // seconds after the previous round freed its memory: a guest system can
    // hand pages it freed only just now back at once, which would spare a
    // round the cost that a read into really fresh memory pays.
    double cpTime = 1e9, readTime = 1e9, writeTime = 1e9, rereadTime = 1e9;
    const std::string cp = "cp '" + src + "' '" + cpy + "'";
    for (int round = 0; round < 3; ++round) {
        std::remove(cpy.c_str());
        ::sync();
        ::sleep(3);
        auto t0 = Clock::now();
        if (std::system(cp.c_str()) != 0) return 1;
        cpTime = std::min(cpTime, seconds(t0, Clock::now()));
        ::sync();

        WavData wav;
        t0 = Clock::now();
        if (!ReadWAVFile(src, wav)) return 1;
        readTime = std::min(readTime, seconds(t0, Clock::now()));

        // The same samples read once more into the block the reader just
        // filled: the reader's copy from the page cache without the cost of
        // memory that the process touches for the first time.
        {
            const int fd = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) return 1;
            t0 = Clock::now();
            size_t done = 0;
            while (done < size_t(wav.byteCount)) {
                const ssize_t r = ::pread(fd, wav.block.get() + done, size_t(wav.byteCount) - done, off_t(44 + done));
                if (r <= 0) return 1;
                done += size_t(r);
            }
            rereadTime = std::min(rereadTime, seconds(t0, Clock::now()));
            ::close(fd);
        }
        ::sync();

        std::remove(dst.c_str());
        ::sync();
        t0 = Clock::now();
        if (!WriteWAVFile(dst, wav.block.get(), wav.stereo, wav.sixteenBit, wav.sampleRate, wav.byteCount))
            return 1;
        writeTime = std::min(writeTime, seconds(t0, Clock::now()));
    }

    // What fresh memory costs on this machine: a new block of the same size
    // as the reader gets it, then one byte written into every page. Measured
    // once, after the rounds, so that no round gets pages another just freed.
    ::sync();
    ::sleep(3);
    auto t0 = Clock::now();
    SampleBlock fresh = allocateBlock(size_t(bytes));
    if (!fresh) return 1;
    for (size_t i = 0; i < size_t(bytes); i += 4096) fresh[i] = uint8_t(i);
    const double touchTime = seconds(t0, Clock::now());
    fresh.reset();

    const double mb = bytes / 1048576.0;
    std::printf("WAV 1 GB 16-bit stereo\n");
    std::printf("  cp     %7.3f s  %8.1f MB/s\n", cpTime, mb / cpTime);
    std::printf("  read   %7.3f s  %8.1f MB/s  speed vs cp: %.2f\n", readTime, mb / readTime, cpTime / readTime);
    std::printf("  write  %7.3f s  %8.1f MB/s  speed vs cp: %.2f\n", writeTime, mb / writeTime, cpTime / writeTime);
    std::printf("  of the read: the same samples again into the block it filled (no fresh memory)\n");
    std::printf("  reread %7.3f s  %8.1f MB/s  speed vs cp: %.2f\n", rereadTime, mb / rereadTime, cpTime / rereadTime);
    std::printf("  fresh memory alone: a new 1 GB block, one write into every page\n");
    std::printf("  fresh  %7.3f s\n", touchTime);
    std::remove(src.c_str());
    std::remove(dst.c_str());
    std::remove(cpy.c_str());
    return 0;
}
