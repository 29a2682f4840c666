#include "codecs/Mp3Import.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "audio/ByteOrder.h"
#include "audio/SafeFile.h"
#include "audio/WavFile.h"
#include "codecs/Mp3Frame.h"

namespace notavox {

namespace {

constexpr int64_t kImportChunkBytes = 1024;
constexpr int kFramesForSync = 3;

// Reads through a window of the file, so that the byte-by-byte searches
// cost no system call per byte.
class WindowReader {
public:
    explicit WindowReader(const InputFile& file) : file_(file), buf_(65536) {}

    // Reads up to n bytes at pos; returns how many there were.
    size_t read(int64_t pos, uint8_t* dst, size_t n) {
        if (pos < start_ || pos + int64_t(n) > start_ + int64_t(len_)) {
            start_ = pos;
            len_ = file_.read(uint64_t(pos), buf_.data(), buf_.size());
        }
        const size_t got = std::min(n, len_ - size_t(pos - start_));
        std::memcpy(dst, buf_.data() + (pos - start_), got);
        return got;
    }

private:
    const InputFile& file_;
    std::vector<uint8_t> buf_;
    int64_t start_ = 0;
    size_t len_ = 0;
};

int64_t skipZeros(WindowReader& r, int64_t pos, int64_t end) {
    uint8_t b = 0;
    while (pos < end && r.read(pos, &b, 1) == 1 && b == 0) ++pos;
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
    for (; pos + 4 <= end; ++pos) {
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

// What the decoder is given: the bytes [start, end) of the file, which
// decode to `channels` at `sampleRate`.
struct Stream {
    int64_t start = -1;  // -1: the file holds no stream
    int64_t end = 0;
    int channels = 0;
    int32_t sampleRate = 0;
};

// The stream that starts first within [pos, end), if any.
Stream streamWithin(WindowReader& r, int64_t pos, int64_t end) {
    const int64_t start = findStream(r, pos, end);
    return start < 0 ? Stream() : Stream{start, streamEnd(r, start, end)};
}

Stream analyse(const InputFile& file) {
    const int64_t fileSize = int64_t(file.size());
    WindowReader r(file);

    // The RIFF-wrapped form: "RIFF", size, "WAVE", then a "fmt " chunk whose
    // first bytes are a WAVEFORMATEX. The MP3 data is the contents of the
    // "data" chunk after it; without one, all from offset 66 on.
    uint8_t head[28] = {};
    if (r.read(0, head, 20) == 20 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVEfmt ", 8) == 0) {
        const uint32_t fmtSize = GetLE32(head + 16);
        const uint8_t* fmt = head + 20;
        r.read(20, head + 20, std::min<uint32_t>(fmtSize, 8));
        if (GetLE16(fmt) != 0x0055) return {};  // no MPEG Layer-3 data: a PCM WAV file named .mp3
        int64_t from = 66, to = fileSize;
        RiffChunk data;
        if (FindRiffChunk(file, 20 + uint64_t(fmtSize) + (fmtSize & 1u), uint64_t(fileSize), FourCC("data"), 0, data)) {
            from = int64_t(data.dataOffset);
            to = std::min(int64_t(data.dataOffset + data.size), fileSize);
        }
        Stream s = streamWithin(r, from, to);
        s.channels = GetLE16(fmt + 2) == 2 ? 2 : 1;
        s.sampleRate = int32_t(GetLE32(fmt + 4));
        return s;
    }

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
    Stream s = streamWithin(r, p, fileSize);
    if (s.start >= 0) {
        r.read(s.start, h, 4);
        const Mp3FrameHeader f = ParseMp3FrameHeader(h);
        s.channels = f.channelMode == 3 ? 1 : 2;
        s.sampleRate = Mp3SampleRate(f);
    }
    return s;
}

}  // namespace

Mp3ImportResult DecodeMp3File(const std::string& path, Mp3Decoder& decoder, OperationHost& host,
                              AudioDocument& doc) {
    const auto failed = [&host](Mp3ImportStatus status, const char* message) {
        host.SetProStatus(0);
        return Mp3ImportResult{status, message};
    };
    host.setStopRequested(false);
    host.SetProStatus(0);
    const InputFile mp3(path);
    // Unreadable, garbage, or a WAV file named .mp3: refused before anything is decoded.
    const Stream stream = mp3.isOpen() ? analyse(mp3) : Stream();
    if (stream.start < 0) return failed(Mp3ImportStatus::CannotOpenInput, "Konnte Datei nicht öffnen!");
    if (!decoder.open(stream.channels, stream.sampleRate))
        return failed(Mp3ImportStatus::NoCodec, "Es ist kein Codec installiert, der eine MP3-Decodierung ermöglicht!");

    const int64_t size = int64_t(mp3.size());
    std::vector<uint8_t> chunk(kImportChunkBytes), pcm;
    PcmCollector block;
    int64_t pos = stream.start, remaining = stream.end - stream.start;
    while (remaining > 0 && !host.stopRequested()) {
        const size_t n = size_t(std::min(remaining, kImportChunkBytes));
        const size_t got = mp3.read(uint64_t(pos), chunk.data(), n);
        if (got == 0) break;  // the file shrank under us: what is there is the end
        pos += int64_t(got);
        remaining = got < n ? 0 : remaining - int64_t(got);
        host.SetProStatus(int32_t((size - remaining) * 100 / size));
        pcm.clear();
        decoder.decode(chunk.data(), got, pcm);
        if (!block.append(pcm.data(), pcm.size()))
            return failed(Mp3ImportStatus::TooLong, "Die decodierte Aufnahme ist zu lang.");
        host.ProcessMessages();
    }
    host.SetProStatus(0);
    const int32_t frameBytes = 2 * stream.channels;  // whole frames only
    const int32_t bytes = int32_t(block.size()) / frameBytes * frameBytes;
    doc.replace(block.take(), bytes, stream.sampleRate, stream.channels == 2, true);
    return {};
}

}  // namespace notavox
