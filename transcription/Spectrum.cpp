#include "transcription/Spectrum.h"

#include <cmath>

namespace notavox {

const std::array<double, 12> baseFrequency = {32.70625, 34.65,  36.7125, 38.8875, 41.2,    43.65,
                                              46.25,    49.0,   51.9125, 55.0,    58.275,  61.7375};

NoteFrequencyTable BuildNoteFrequency() {
    NoteFrequencyTable f{};
    for (int n = 0; n < 128; ++n) f[n] = std::ldexp(baseFrequency[n % 12], n / 12 - 2);
    return f;
}

BinToNoteTable BuildBinToNote(int32_t sampleRate, const NoteFrequencyTable& noteFrequency) {
    BinToNoteTable map{};
    for (int j = 0; j < 512; ++j) {
        const double f = static_cast<double>((static_cast<long double>(j) / 1024.0L) * sampleRate);
        if (f < 31.5 || f >= 50176.0) {
            map[j] = -1;
            continue;
        }
        double best = 1000000.0;
        int32_t note = -1;
        for (int k = 0; k < 128; ++k) {
            const double d = std::fabs(noteFrequency[k] - f);
            if (d < best) {
                best = d;
                note = k;
            }
        }
        map[j] = note;
    }
    return map;
}

}  // namespace notavox
