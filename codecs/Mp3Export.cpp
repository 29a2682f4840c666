#include "codecs/Mp3Export.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "audio/SafeFile.h"

namespace notavox {

namespace {
constexpr int64_t kChunkBytes = 5000;  // 2500 sample values
}

std::vector<int32_t> AllowedMp3BitRatesFor(int32_t outputRate) {
    // The bit rates of MPEG Layer III for each version.
    static constexpr int32_t kMpeg1[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static constexpr int32_t kMpeg2[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static constexpr int32_t kMpeg25[] = {8, 16, 24, 32, 40, 48, 56, 64};
    const int32_t* begin;
    const int32_t* end;
    if (outputRate >= 32000) {
        begin = std::begin(kMpeg1);
        end = std::end(kMpeg1);
    } else if (outputRate >= 16000) {
        begin = std::begin(kMpeg2);
        end = std::end(kMpeg2);
    } else {
        begin = std::begin(kMpeg25);
        end = std::end(kMpeg25);
    }
    std::vector<int32_t> allowed;
    for (int32_t b : kMp3BitRates)
        if (std::find(begin, end, b) != end) allowed.push_back(b);
    return allowed;
}

bool Mp3BitRateAllowed(int32_t outputRate, int32_t bitRate) {
    const std::vector<int32_t> allowed = AllowedMp3BitRatesFor(outputRate);
    return std::find(allowed.begin(), allowed.end(), bitRate) != allowed.end();
}

std::string Mp3BitRateMessage(int32_t outputRate) {
    std::string list;
    for (int32_t b : AllowedMp3BitRatesFor(outputRate)) list += (list.empty() ? "" : ", ") + std::to_string(b);
    return "Bei " + std::to_string(outputRate) + " Hz sind nur diese Bitraten möglich: " + list + " kBit/s.";
}

Mp3ExportResult SaveAsMP3File(const std::string& path, const AudioDocument& doc, int32_t outputRate,
                              int32_t bitRate, OperationHost& host, Mp3Encoder& encoder) {
    Mp3ExportResult result;
    if (!Mp3BitRateAllowed(outputRate, bitRate)) {
        result.status = Mp3ExportStatus::BitRateNotAllowed;
        result.message = Mp3BitRateMessage(outputRate);
        return result;
    }
    SafeFile file;
    if (!file.open(path)) {
        result.status = Mp3ExportStatus::CannotCreate;
        result.message = kMsgCannotCreateMp3;
        result.error = file.error();
        return result;
    }

    // An 8-bit recording is widened to 16 bits chunk by chunk.
    const int64_t total = doc.byteCount > 0 ? (doc.sixteenBit ? int64_t(doc.byteCount) : 2 * int64_t(doc.byteCount)) : 0;
    const uint8_t* bytes = doc.sampleData.get();

    if (!encoder.open(Mp3EncoderSettings{doc.sampleRate, doc.stereo, outputRate, bitRate})) {
        file.discard();
        result.status = Mp3ExportStatus::CannotInitEncoder;
        result.message = kMsgCannotInitEncoder;
        return result;
    }
    std::vector<int16_t> widened(doc.sixteenBit ? 0 : size_t(kChunkBytes / 2));
    std::vector<uint8_t> output;

    for (int64_t pos = 0; pos < total;) {
        if (host.stopRequested()) {
            encoder.close();
            file.discard();
            host.SetProStatus(0);
            result.status = Mp3ExportStatus::Cancelled;
            return result;
        }
        host.SetProStatus(int32_t(pos * 100 / total));
        const int64_t d = std::min(total - pos, kChunkBytes);
        const size_t count = size_t(d / 2);
        const int16_t* values;
        if (doc.sixteenBit) {
            // In place: the block is heap-aligned and every chunk starts at an even offset.
            values = reinterpret_cast<const int16_t*>(bytes + pos);
        } else {
            const uint8_t* src = bytes + pos / 2;
            for (size_t i = 0; i < count; ++i) widened[i] = level8To16(src[i]);
            values = widened.data();
        }
        output.clear();
        if (!encoder.encode(values, count, output)) {
            encoder.close();
            throw EMp3Encoding(kMsgEncodeFailed);
        }
        file.write(output.data(), output.size());
        pos += d;
    }
    host.SetProStatus(0);

    output.clear();
    if (!encoder.flush(output)) {
        encoder.close();
        throw EMp3Encoding(kMsgFlushFailed);
    }
    file.write(output.data(), output.size());
    encoder.close();
    if (!file.commit()) {
        result.status = Mp3ExportStatus::CannotCreate;
        result.message = kMsgCannotCreateMp3;
        result.error = file.error();
    }
    return result;
}

}  // namespace notavox
