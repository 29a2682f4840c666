#include "audio/DocumentInfo.h"

#include <cstdio>

namespace notavox {

std::string TimeText(int64_t ms) {
    if (ms < 0) ms = 0;
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", static_cast<long long>(ms / 60000),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return text;
}

int64_t SampleIndexMilliseconds(const AudioDocument& doc, int64_t sampleIndex) {
    if (doc.sampleRate <= 0 || sampleIndex <= 0) return 0;
    const int64_t frame = sampleIndex / doc.channelCount();
    return frame * 1000 / doc.sampleRate;
}

std::string FormatText(const AudioDocument& doc) {
    return std::to_string(doc.sampleRate) + " Hz, " + (doc.sixteenBit ? "16 Bit, " : "8 Bit, ") +
           (doc.stereo ? "Stereo" : "Mono");
}

std::string RecordingText(const AudioDocument& doc) {
    if (doc.empty()) return {};
    return FormatText(doc) + " \u2013 " + TimeText(SampleIndexMilliseconds(doc, doc.sampleCount()));
}

std::string SelectionText(const AudioDocument& doc) {
    if (doc.empty()) return {};
    if (!doc.hasSelection()) return "Keine Auswahl";
    const int64_t a = SampleIndexMilliseconds(doc, doc.selectionLow());
    const int64_t b = SampleIndexMilliseconds(doc, doc.selectionHigh());
    return "Auswahl " + TimeText(a) + "\u2013" + TimeText(b) + " (" + TimeText(b - a) + ")";
}

}  // namespace notavox
