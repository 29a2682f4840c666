#include "codecs/Mp3Export.h"

#include <algorithm>
#include <vector>

#include "audio/SafeFile.h"

namespace notavox {

namespace {

constexpr int64_t kExportChunkBytes = 5000;  // 2500 sample values

// The entries of the bit rate list that a stream of `outputRate` can have.
std::vector<int32_t> allowedBitRates(int32_t outputRate) {
    std::vector<int32_t> allowed;
    for (int32_t b : kMp3BitRates)
        if (outputRate >= 32000 ? std::ranges::count(kMpeg1LayerIIIBitRates, b) > 0 : outputRate >= 16000 || b <= 64)
            allowed.push_back(b);
    return allowed;
}

}  // namespace

bool Mp3BitRateAllowed(int32_t outputRate, int32_t bitRate) {
    return std::ranges::count(allowedBitRates(outputRate), bitRate) > 0;
}

std::string Mp3BitRateMessage(int32_t outputRate) {
    std::string list;
    for (int32_t b : allowedBitRates(outputRate)) list += (list.empty() ? "" : ", ") + std::to_string(b);
    return "Bei " + std::to_string(outputRate) + " Hz sind nur diese Bitraten möglich: " + list + " kBit/s.";
}

Mp3ExportResult SaveAsMP3File(const std::string& path, const AudioDocument& doc, int32_t outputRate,
                              int32_t bitRate, OperationHost& host, Mp3Encoder& encoder) {
    using enum Mp3ExportStatus;
    if (!Mp3BitRateAllowed(outputRate, bitRate)) return {BitRateNotAllowed, Mp3BitRateMessage(outputRate), 0};
    SafeFile file;  // removed again unless committed
    if (!file.open(path)) return {CannotCreate, kMsgCannotCreateMp3, file.error()};
    if (!encoder.open({doc.sampleRate, doc.stereo, outputRate, bitRate}))
        return {CannotInitEncoder, kMsgCannotInitEncoder, 0};
    const auto fail = [&encoder](const char* message) {
        encoder.close();
        throw EMp3Encoding(message);
    };

    // A 16-bit recording goes to the encoder in place (the block is
    // heap-aligned, every chunk starts at an even offset); an 8-bit one is
    // widened chunk by chunk.
    const uint8_t* bytes = doc.sampleData.get();
    const int64_t total = int64_t(doc.byteCount) * (doc.sixteenBit ? 1 : 2);
    std::vector<int16_t> widened(doc.sixteenBit ? 0 : size_t(kExportChunkBytes / 2));
    std::vector<uint8_t> output;
    for (int64_t pos = 0; pos < total; pos += kExportChunkBytes) {
        if (host.stopRequested()) {
            encoder.close();
            host.SetProStatus(0);
            return {Cancelled, "", 0};
        }
        host.SetProStatus(int32_t(pos * 100 / total));
        const size_t count = size_t(std::min(total - pos, kExportChunkBytes) / 2);
        if (!doc.sixteenBit) std::transform(bytes + pos / 2, bytes + pos / 2 + count, widened.begin(), level8To16);
        const int16_t* values = doc.sixteenBit ? reinterpret_cast<const int16_t*>(bytes + pos) : widened.data();
        output.clear();
        if (!encoder.encode(values, count, output)) fail(kMsgEncodeFailed);
        file.write(output.data(), output.size());
    }
    host.SetProStatus(0);

    output.clear();
    if (!encoder.flush(output)) fail(kMsgFlushFailed);
    file.write(output.data(), output.size());
    encoder.close();
    if (!file.commit()) return {CannotCreate, kMsgCannotCreateMp3, file.error()};
    return {};
}

}  // namespace notavox
