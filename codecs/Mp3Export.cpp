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

BE_CONFIG MakeMp3Config(int32_t inputRate, bool stereo, int32_t outputRate, int32_t bitRate) {
    BE_CONFIG c;
    std::memset(&c, 0, sizeof c);
    c.dwConfig = BE_CONFIG_LAME;
    c.dwStructVersion = 1;
    c.dwStructSize = sizeof(BE_CONFIG);
    c.dwSampleRate = uint32_t(inputRate);
    c.dwReSampleRate = uint32_t(outputRate);
    c.nMode = stereo ? BE_MP3_MODE_STEREO : BE_MP3_MODE_MONO;
    c.dwBitrate = uint32_t(bitRate);
    c.dwMaxBitrate = uint32_t(bitRate);
    c.nPreset = LQP_HIGH_QUALITY;
    c.dwMpegVersion = MPEG1;
    c.dwPsyModel = 0;
    c.dwEmphasis = 0;
    c.bPrivate = 0;
    c.bCRC = 0;
    c.bCopyright = -1;
    c.bOriginal = -1;
    c.bWriteVBRHeader = 0;
    c.bEnableVBR = 0;
    c.nVBRQuality = 0;
    return c;
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
                              int32_t bitRate, OperationHost& host, Mp3EncoderStream& encoder) {
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

    const BE_CONFIG config = MakeMp3Config(doc.sampleRate, doc.stereo, outputRate, bitRate);
    uint32_t suggested = 0, bufferSize = 0;
    HBE_STREAM stream = 0;
    if (encoder.beInitStream(config, suggested, bufferSize, stream) != BE_ERR_SUCCESSFUL) {
        file.discard();
        result.status = Mp3ExportStatus::CannotInitEncoder;
        result.message = kMsgCannotInitEncoder;
        return result;
    }
    std::vector<uint8_t> output(std::max<uint32_t>(bufferSize, 1), 0);
    std::vector<int16_t> widened(doc.sixteenBit ? 0 : size_t(kChunkBytes / 2));

    for (int64_t pos = 0; pos < total;) {
        if (host.stopRequested()) {
            encoder.beCloseStream(stream);
            file.discard();
            host.SetProStatus(0);
            result.status = Mp3ExportStatus::Cancelled;
            return result;
        }
        host.SetProStatus(int32_t(pos * 100 / total));
        const int64_t d = std::min(total - pos, kChunkBytes);
        const uint32_t count = uint32_t(d / 2);
        const int16_t* values;
        if (doc.sixteenBit) {
            // In place: the block is heap-aligned and every chunk starts at an even offset.
            values = reinterpret_cast<const int16_t*>(bytes + pos);
        } else {
            const uint8_t* src = bytes + pos / 2;
            for (uint32_t i = 0; i < count; ++i) widened[i] = level8To16(src[i]);
            values = widened.data();
        }
        uint32_t n = 0;
        if (encoder.beEncodeChunk(stream, count, values, output.data(), n) != BE_ERR_SUCCESSFUL) {
            encoder.beCloseStream(stream);
            throw EMp3Encoding(kMsgEncodeFailed);
        }
        file.write(output.data(), std::min<size_t>(n, output.size()));
        pos += d;
    }
    host.SetProStatus(0);

    uint32_t n = 0;
    if (encoder.beDeinitStream(stream, output.data(), n) != BE_ERR_SUCCESSFUL) {
        encoder.beCloseStream(stream);
        throw EMp3Encoding(kMsgFlushFailed);
    }
    if (n > 0) file.write(output.data(), std::min<size_t>(n, output.size()));
    encoder.beCloseStream(stream);
    if (!file.commit()) {
        result.status = Mp3ExportStatus::CannotCreate;
        result.message = kMsgCannotCreateMp3;
        result.error = file.error();
    }
    return result;
}

}  // namespace notavox
