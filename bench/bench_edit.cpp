// Times every edit and effect on a 10-minute 16-bit stereo recording (no
// selection, so each runs over the whole recording), and one repaint's worth
// of view computation for a 1-second and a 1-hour recording at several zooms.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>

#include "audio/AudioDocument.h"
#include "audio/EditOps.h"
#include "audio/Effects.h"
#include "view/WaveGeometry.h"

using namespace notavox;
using Clock = std::chrono::steady_clock;

static AudioDocument makeRecording(int64_t seconds) {
    const int64_t frames = seconds * 44100;
    const int64_t bytes = frames * 4;
    SampleBlock block = allocateBlock(size_t(bytes));
    uint32_t x = 12345;
    for (int64_t i = 0; i < bytes; i += 4) {
        x = x * 1664525u + 1013904223u;
        std::memcpy(block.get() + i, &x, 4);
    }
    AudioDocument doc;
    doc.replace(std::move(block), int32_t(bytes), 44100, true, true);
    return doc;
}

static double timeIt(const std::function<void()>& f) {
    const auto a = Clock::now();
    f();
    return std::chrono::duration<double, std::milli>(Clock::now() - a).count();
}

int main() {
    AudioDocument doc = makeRecording(600);
    std::printf("10-minute 16-bit stereo recording, %d bytes\n", doc.byteCount);
    auto report = [](const char* name, double ms) { std::printf("  %-34s %9.2f ms\n", name, ms); };
    report("Echo 0.5 s", timeIt([&] { Echo(doc, 0.5); }));
    report("Weich einblenden 2 s", timeIt([&] { FadeIn(doc, 2.0); }));
    report("Weich ausblenden 2 s", timeIt([&] { FadeOut(doc, 2.0); }));
    report("Maximale Lautstaerke", timeIt([&] { MaximumVolume(doc); }));
    report("Lauter 10%", timeIt([&] { Louder10(doc); }));
    report("Leiser 10%", timeIt([&] { Quieter10(doc); }));
    report("Rueckwaerts", timeIt([&] { Reverse(doc); }));
    report("Schneller 10% + Langsamer 10%", timeIt([&] { Faster10(doc); Slower10(doc); }));
    report("Ende auf Anfang ueberblenden 2 s", timeIt([&] { CrossfadeEndOntoStart(doc, 2.0); }));
    doc.selectionStart = 0;
    doc.selectionEnd = doc.sampleCount() / 2;
    report("Die Auswahl wegschneiden (half)", timeIt([&] { CutSelection(doc); }));
    doc.selectionStart = doc.sampleCount() / 4;
    doc.selectionEnd = doc.sampleCount() - 2;
    report("Zur Auswahl zurechtschneiden", timeIt([&] { CropToSelection(doc); }));

    const int32_t width = 1280, height = 400, repaints = 2000;
    for (int64_t seconds : {int64_t(1), int64_t(3600)}) {
        AudioDocument rec = makeRecording(seconds);
        rec.selectionStart = rec.sampleCount() / 3;
        rec.selectionEnd = rec.sampleCount() / 2;
        std::printf("view, %lld s recording (%d bytes), %dx%d, per repaint:\n",
                    static_cast<long long>(seconds), rec.byteCount, width, height);
        WaveViewPicture pic;
        WaveSummary summary;
        std::printf("  peak summary built in %.2f ms\n", timeIt([&] { summary.update(rec); }));
        for (int32_t zoom : {1, 100, 10000, 1000000}) {
            const int32_t max = ScrollMaximum(rec.sampleCount(), width, zoom);
            size_t points = 0;
            const double ms = timeIt([&] {
                for (int r = 0; r < repaints; ++r) {
                    ComputeWaveView(rec, zoom, int32_t(int64_t(r) * max / repaints), width, height, pic, &summary);
                    points += pic.trace.size() + pic.spans.size();
                }
            });
            std::printf("  zoom %7d  %8.2f us  (%zu points or spans drawn on average)\n", zoom,
                        ms * 1000.0 / repaints, points / repaints);
        }
    }
    return 0;
}
