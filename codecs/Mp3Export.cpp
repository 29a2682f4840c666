#include "codecs/Mp3Export.h"

#include <algorithm>
#include <vector>

#include "audio/SafeFile.h"

namespace notavox {

namespace {

constexpr int64_t kExportChunkBytes = 5000;  // 2500 sample values
constexpr const char* kCannotCreate = "Konnte Datei nicht erstellen...";

// Empty when a stream of `outputRate` can have `bitRate` (MPEG-1 from
// 32000 Hz, MPEG-2 from 16000 Hz, MPEG-2.5 below); else the message that
// names the entries of the bit rate list it can have.
std::string bitRateRefusal(int32_t outputRate, int32_t bitRate) {
    std::string list;
    for (int32_t b : kMp3BitRates) {
        if (outputRate >= 32000 ? std::ranges::count(kMpeg1LayerIIIBitRates, b) == 0 : outputRate < 16000 && b > 64)
            continue;
        if (b == bitRate) return "";
        list += (list.empty() ? "" : ", ") + std::to_string(b);
    }
    return "Bei " + std::to_string(outputRate) + " Hz sind nur diese Bitraten möglich: " + list + " kBit/s.";
}

}  // namespace

Mp3ExportResult SaveAsMP3File(const std::string& path, const AudioDocument& doc, int32_t outputRate,
                              int32_t bitRate, OperationHost& host, Mp3Encoder& encoder) {
    using enum Mp3ExportStatus;
    const std::string refusal = bitRateRefusal(outputRate, bitRate);
    if (!refusal.empty()) return {BitRateNotAllowed, refusal, 0};
    SafeFile file;  // removed again unless committed
    if (!file.open(path)) return {CannotCreate, kCannotCreate, file.error()};
    if (!encoder.open({doc.sampleRate, doc.stereo, outputRate, bitRate}))
        return {CannotInitEncoder, "Konnte LAME Encoder nicht initialisieren...", 0};
    const auto ended = [&host](Mp3ExportStatus status, const char* message) {
        host.SetProStatus(0);
        return Mp3ExportResult{status, message, 0};
    };

    // A 16-bit recording goes to the encoder in place (the block is
    // heap-aligned, every chunk starts at an even offset); an 8-bit one is
    // widened chunk by chunk.
    const uint8_t* bytes = doc.sampleData.get();
    const int64_t total = int64_t(doc.byteCount) * (doc.sixteenBit ? 1 : 2);
    std::vector<int16_t> widened(doc.sixteenBit ? 0 : size_t(kExportChunkBytes / 2));
    std::vector<uint8_t> output;
    for (int64_t pos = 0; pos < total; pos += kExportChunkBytes) {
        if (host.stopRequested()) return ended(Cancelled, "");
        host.SetProStatus(int32_t(pos * 100 / total));
        const size_t count = size_t(std::min(total - pos, kExportChunkBytes) / 2);
        if (!doc.sixteenBit) std::transform(bytes + pos / 2, bytes + pos / 2 + count, widened.begin(), level8To16);
        const int16_t* values = doc.sixteenBit ? reinterpret_cast<const int16_t*>(bytes + pos) : widened.data();
        output.clear();
        if (!encoder.encode(values, count, output)) return ended(EncodingFailed, "Fehler beim MP3 Codieren");
        file.write(output.data(), output.size());
    }
    host.SetProStatus(0);

    output.clear();
    if (!encoder.flush(output)) return ended(EncodingFailed, "Echec à la sortie");
    file.write(output.data(), output.size());
    if (!file.commit()) return {CannotCreate, kCannotCreate, file.error()};
    return {};
}

}  // namespace notavox
