#include "transcription/NoteDetection.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include "audio/Parallel.h"
#include "transcription/Fft.h"

namespace notavox {

DetectionTables::DetectionTables(int32_t rate)
    : sampleRate(rate), noteFrequency(BuildNoteFrequency()), binToNote(BuildBinToNote(rate, noteFrequency)) {}

uint8_t VelocityOf(double level) {
    const int64_t velocity = static_cast<int64_t>(level * 500.0 / 10.0);
    return uint8_t(velocity > 127 ? 127 : velocity);
}

int32_t WindowCount(int32_t frameCount) { return frameCount < 0 ? 0 : frameCount / kWindowLength + 1; }

namespace {

// Reads the first channel of frames [start, start + n) into re, as the
// formats store it: 16-bit signed values, 8-bit raw bytes 0..255.
void readWindow(const AudioDocument& doc, int32_t start, int32_t n, double* re) {
    const uint8_t* p = doc.sampleData.get();
    if (doc.sixteenBit) {
        const int32_t stride = doc.stereo ? 4 : 2;
        for (int32_t i = 0; i < n; ++i) {
            int16_t v;
            std::memcpy(&v, p + int64_t(start + i) * stride, 2);
            re[i] = v;
        }
    } else {
        const int32_t stride = doc.stereo ? 2 : 1;
        for (int32_t i = 0; i < n; ++i) re[i] = p[int64_t(start + i) * stride];
    }
}

}  // namespace

void DetectWindow(const AudioDocument& doc, const DetectionTables& tables, int32_t windowIndex,
                  std::vector<NoteEvent>& out, WindowLevels* levels) {
    alignas(64) double x[kWindowLength];
    alignas(64) double re[kWindowLength];
    alignas(64) double im[kWindowLength];

    const int32_t frameCount = doc.frameCount();
    const int64_t start = int64_t(windowIndex) * kWindowLength;
    const int32_t remaining = int32_t(frameCount - start);
    const int32_t n = std::min(kWindowLength, remaining);
    const int32_t filled = n > 0 && doc.sampleData ? n : 0;
    if (filled > 0) readWindow(doc, int32_t(start), filled, x);
    std::fill(x + filled, x + kWindowLength, 0.0);
    FFT1024ForwardReal(x, re, im);

    std::array<double, 128> noteLevel{};
    std::array<double, 128> binCount{};
    for (int j = 0; j < kWindowLength / 2; ++j) {
        const long double a = re[j];
        const long double b = im[j];
        re[j] = static_cast<double>(std::sqrt(a * a + b * b));
        const int32_t note = tables.binToNote[size_t(j)];
        if (note != -1) {
            noteLevel[size_t(note)] += re[j];
            binCount[size_t(note)] += 1;
        }
    }
    for (int m = 0; m < 128; ++m) {
        if (binCount[size_t(m)] != 0) noteLevel[size_t(m)] = noteLevel[size_t(m)] / binCount[size_t(m)];
    }
    double peakLevel = 0.0;
    for (int m = 0; m < 128; ++m) {
        if (noteLevel[size_t(m)] > 1.0 && noteLevel[size_t(m)] > peakLevel) peakLevel = noteLevel[size_t(m)];
    }
    if (levels) {
        levels->noteLevel = noteLevel;
        levels->binCount = binCount;
        levels->peakLevel = peakLevel;
    }
    // Per pitch class only the strongest of octaves 0..7 keeps its level.
    for (int p = 0; p < 12; ++p) {
        double best = 0.0;
        int bestNote = -1;
        for (int o = 0; o < 8; ++o) {
            if (noteLevel[size_t(p + 12 * o)] > best) {
                best = noteLevel[size_t(p + 12 * o)];
                bestNote = p + 12 * o;
            }
        }
        for (int o = 0; o < 8; ++o) {
            if (p + 12 * o != bestNote) noteLevel[size_t(p + 12 * o)] = 0.0;
        }
    }
    if (tables.sampleRate <= 0) return;
    const double threshold = 0.75 * peakLevel;
    const int64_t windowEnd = start + std::max(n, 0);
    for (int m = 0; m < 128; ++m) {
        const double level = noteLevel[size_t(m)];
        if (!(level > threshold && level > 1.0)) continue;
        NoteEvent e = MakeNoteEvent(kNoteOn, m, VelocityOf(level), uint32_t(windowEnd * 1000 / tables.sampleRate));
        e.duration = uint32_t(int64_t(kWindowLength) * 1000 / tables.sampleRate);
        e.window = windowIndex;
        out.push_back(e);
    }
}

namespace {

constexpr int32_t kWindowsPerBatch = 128;

int32_t progressOf(int64_t frameCount, int64_t windowStart) {
    if (frameCount <= 0) return 100;
    return int32_t(100 - ((frameCount - windowStart) * 100) / frameCount);
}

}  // namespace

int64_t DetectNotes(const AudioDocument& doc, TDynaArray& editList, OperationHost& host, unsigned threads) {
    const DetectionTables tables(doc.sampleRate);
    const int32_t frameCount = doc.frameCount();
    const int32_t windows = WindowCount(frameCount);
    const int32_t batches = (windows + kWindowsPerBatch - 1) / kWindowsPerBatch;
    if (threads == 0) threads = CoreCount();
    threads = std::min<unsigned>(threads, unsigned(std::max(batches, 1)));

    std::vector<std::vector<NoteEvent>> results(static_cast<size_t>(batches));
    std::vector<uint8_t> done(size_t(batches), 0);
    std::atomic<int32_t> next{0};
    std::mutex mutex;
    std::condition_variable finished;

    auto work = [&](bool caller) -> bool {
        const int32_t b = next.fetch_add(1);
        if (b >= batches) return false;
        std::vector<NoteEvent> local;
        const int32_t first = b * kWindowsPerBatch;
        const int32_t last = std::min(windows, first + kWindowsPerBatch);
        for (int32_t w = first; w < last; ++w) DetectWindow(doc, tables, w, local, nullptr);
        {
            std::lock_guard<std::mutex> lock(mutex);
            results[size_t(b)] = std::move(local);
            done[size_t(b)] = 1;
        }
        if (!caller) finished.notify_one();
        return true;
    };

    // Helpers that cannot be started leave their batches to the caller.
    WorkerGroup helpers;
    helpers.start(threads - 1, [&] {
        while (work(false)) {
        }
    });

    // The calling thread works too, and between its batches moves finished
    // batches into the list in window order and reports the progress.
    int64_t detections = 0;
    int32_t flushed = 0;
    auto flush = [&](bool wait) {
        std::unique_lock<std::mutex> lock(mutex);
        while (flushed < batches) {
            if (!done[size_t(flushed)]) {
                if (!wait) break;
                finished.wait(lock, [&] { return done[size_t(flushed)] != 0; });
            }
            std::vector<NoteEvent> batch = std::move(results[size_t(flushed)]);
            const int32_t lastWindow = std::min(windows, (flushed + 1) * kWindowsPerBatch) - 1;
            ++flushed;
            lock.unlock();
            if (!batch.empty()) {
                editList.AppendMany(batch.data(), int32_t(batch.size()));
                detections += int64_t(batch.size());
            }
            host.SetProStatus(progressOf(frameCount, int64_t(lastWindow) * kWindowLength));
            lock.lock();
        }
    };
    while (work(true)) flush(false);
    flush(true);
    helpers.join();
    return detections;
}

}  // namespace notavox
