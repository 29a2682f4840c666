#include "codecs/Mp3Import.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "audio/ByteOrder.h"
#include "audio/WavFile.h"
#include "codecs/Mp3Frame.h"

namespace notavox {

namespace {

constexpr int64_t kImportChunkBytes = 1024;
constexpr int kFramesForSync = 3;

// Reads a few bytes at a time through a window of the file, so that the
// byte-by-byte searches of the analysis cost no system call per byte.
class WindowReader {
public:
    explicit WindowReader(const InputFile& file) : file(file), buf_(65536) {}

    // Reads up to n bytes at pos; returns how many there were.
    size_t read(int64_t pos, uint8_t* dst, size_t n) {
        if (pos < start_ || pos + int64_t(n) > start_ + int64_t(len_)) {
            start_ = pos;
            len_ = file.read(uint64_t(pos), buf_.data(), buf_.size());
        }
        const size_t got = std::min(n, len_ - size_t(pos - start_));
        std::memcpy(dst, buf_.data() + (pos - start_), got);
        return got;
    }
    int byteAt(int64_t pos) {
        uint8_t b;
        return read(pos, &b, 1) == 1 ? b : -1;
    }

    const InputFile& file;

private:
    std::vector<uint8_t> buf_;
    int64_t start_ = 0;
    size_t len_ = 0;
};

int64_t skipZeros(WindowReader& r, int64_t pos, int64_t end) {
    while (pos < end && r.byteAt(pos) == 0) ++pos;
    return pos;
}

// Frames that follow one another must agree in these header fields.
bool sameStream(const uint8_t a[4], const uint8_t b[4]) {
    return (a[1] & 0xFE) == (b[1] & 0xFE) && (a[2] & 0x0C) == (b[2] & 0x0C);
}

// The consecutive frames from a position that agree with the first one.
struct Chain {
    int frames = 0;
    int64_t next = 0;         // where the frame after the last one counted starts
    bool reachesEnd = false;  // the last one counted ends at or runs past the end
};

Chain chainFrom(WindowReader& r, int64_t pos, int64_t end, int most) {
    Chain c{0, pos, false};
    uint8_t first[4], h[4];
    if (r.read(pos, first, 4) != 4) return c;
    std::memcpy(h, first, 4);
    while (c.frames < most) {
        const int32_t length = Mp3FrameLength(h);
        if (length <= 0 || !sameStream(first, h)) break;
        ++c.frames;
        pos = c.next = pos + length;
        c.reachesEnd = c.next >= end - 3;
        if (c.reachesEnd || r.read(pos, h, 4) != 4) break;
    }
    return c;
}

// The first position from `pos` where a stream starts, or -1: several
// agreeing frames, or a short stream of whole frames up to the end.
int64_t findStream(WindowReader& r, int64_t pos, int64_t end) {
    uint8_t h[4];
    for (; pos + 4 <= end; ++pos) {
        if (r.read(pos, h, 4) != 4 || !IsValidMp3FrameHeader(h)) continue;
        const Chain c = chainFrom(r, pos, end, kFramesForSync);
        if (c.frames >= kFramesForSync || (c.reachesEnd && (c.frames >= 2 || (c.frames == 1 && c.next == end))))
            return pos;
    }
    return -1;
}

// Where the stream that starts at `pos` ends: after its last frame, or where
// sync was lost for good. Damage inside is passed over when agreeing frames
// follow it.
int64_t streamEnd(WindowReader& r, int64_t pos, int64_t end) {
    for (;;) {
        const Chain c = chainFrom(r, pos, end, INT32_MAX);
        if (c.reachesEnd) return std::min(c.next, end);
        pos = findStream(r, c.next, end);
        if (pos < 0) return c.next;
    }
}

// The RIFF-wrapped form: "RIFF", size, "WAVE", then a "fmt " chunk whose
// first bytes are a WAVEFORMATEX. The MP3 data is the contents of the "data"
// chunk after it; without one, all from offset 66 on.
bool analyseRiff(WindowReader& r, int64_t fileSize, Mp3StreamInfo& info) {
    uint8_t head[38] = {};
    if (r.read(0, head, 20) != 20 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVEfmt ", 8) != 0)
        return false;
    const uint32_t fmtSize = GetLE32(head + 16);
    const uint8_t* fmt = head + 20;
    r.read(20, head + 20, std::min<uint32_t>(fmtSize, 18));
    info.riffWrapped = true;
    info.channels = GetLE16(fmt + 2) == 2 ? 2 : 1;
    info.sampleRate = int32_t(GetLE32(fmt + 4));
    info.bitRate = int32_t(GetLE32(fmt + 8) * 8u / 1000u);
    RiffChunk data;
    const bool hasData =
        FindRiffChunk(r.file, 20 + uint64_t(fmtSize) + (fmtSize & 1u), uint64_t(fileSize), FourCC("data"), 0, data);
    info.dataStart = hasData ? int64_t(data.dataOffset) : 66;
    info.dataEnd = hasData ? std::min(int64_t(data.dataOffset + data.size), fileSize) : fileSize;
    // Only MPEG Layer-3 data: a PCM WAV file named .mp3 is no stream.
    const int64_t start = GetLE16(fmt) == 0x0055 ? findStream(r, info.dataStart, info.dataEnd) : -1;
    info.found = start >= 0;
    if (info.found) info.dataEnd = streamEnd(r, start, info.dataEnd);
    return true;
}

}  // namespace

Mp3StreamInfo AnalyseMp3Stream(const InputFile& file) {
    const int64_t fileSize = int64_t(file.size());
    WindowReader r(file);
    Mp3StreamInfo info;
    if (analyseRiff(r, fileSize, info)) return info;

    // Zeros when the file starts with four of them, an ID3v2 tag (its size
    // synchsafe) and zeros after it.
    uint8_t h[10] = {};
    r.read(0, h, 4);
    int64_t p = GetLE32(h) == 0 ? skipZeros(r, 0, fileSize) : 0;
    r.read(p, h, 10);
    if (std::memcmp(h, "ID3", 3) == 0) {
        const int64_t size = int64_t(h[6] & 0x7F) << 21 | (h[7] & 0x7F) << 14 | (h[8] & 0x7F) << 7 | (h[9] & 0x7F);
        p = skipZeros(r, p + 10 + size, fileSize);
    }
    const int64_t start = findStream(r, p, fileSize);
    if (start < 0) return info;

    r.read(start, h, 4);
    const Mp3FrameHeader f = ParseMp3FrameHeader(h);
    info.found = true;
    info.channels = Mp3Channels(f.channelMode);
    info.sampleRate = Mp3SampleRate(f.version, f.sampleRateIndex);
    info.bitRate = Mp3BitRate(f.version, f.layer, f.bitrateIndex);
    info.dataStart = start;
    info.dataEnd = streamEnd(r, start, fileSize);
    return info;
}

Mp3ImportResult DecodeMp3File(const std::string& path, Mp3Decoder& decoder, OperationHost& host,
                              AudioDocument& doc) {
    const auto failed = [&host](Mp3ImportStatus status, const char* message) {
        host.SetProStatus(0);
        return Mp3ImportResult{status, message, false};
    };
    host.setStopRequested(false);
    host.SetProStatus(0);
    const InputFile mp3(path);
    // Unreadable, garbage, or a WAV file named .mp3: refused before anything is decoded.
    const Mp3StreamInfo info = mp3.isOpen() ? AnalyseMp3Stream(mp3) : Mp3StreamInfo();
    if (!info.found) return failed(Mp3ImportStatus::CannotOpenInput, kMsgCannotOpenMp3);
    if (!decoder.open(info.channels, info.sampleRate)) return failed(Mp3ImportStatus::NoCodec, kMsgNoMp3Codec);

    const int64_t size = int64_t(mp3.size());
    std::vector<uint8_t> chunk(kImportChunkBytes), pcm;
    PcmCollector block;
    int64_t pos = info.dataStart, remaining = info.dataEnd - info.dataStart;
    while (remaining > 0 && !host.stopRequested()) {
        const size_t n = size_t(std::min(remaining, kImportChunkBytes));
        const size_t got = mp3.read(uint64_t(pos), chunk.data(), n);
        if (got == 0) break;  // the file shrank under us: what is there is the end
        pos += int64_t(got);
        remaining = got < n ? 0 : remaining - int64_t(got);
        host.SetProStatus(int32_t((size - remaining) * 100 / size));
        pcm.clear();
        decoder.decode(chunk.data(), got, pcm);  // data it cannot decode is passed over
        if (!block.append(pcm.data(), pcm.size())) return failed(Mp3ImportStatus::TooLong, kMsgMp3TooLong);
        host.ProcessMessages();
    }
    const bool stopped = remaining > 0 && host.stopRequested();
    host.SetProStatus(0);
    const int32_t frameBytes = 2 * info.channels;  // whole frames only
    const int32_t bytes = int32_t(block.size()) / frameBytes * frameBytes;
    doc.replace(block.take(), bytes, info.sampleRate, info.channels == 2, true);
    return {Mp3ImportStatus::Ok, "", stopped};
}

}  // namespace notavox
