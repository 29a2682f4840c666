#include "codecs/Mp3Import.h"

#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "audio/ByteOrder.h"
#include "codecs/Mp3Frame.h"

namespace notavox {

namespace {

constexpr uint16_t kWaveFormatMpegLayer3 = 0x0055;  // the format tag of a RIFF-wrapped stream

// Reads through a window of the file so that the byte-by-byte searches of
// the analysis do not turn into one system call per byte.
class WindowReader {
public:
    explicit WindowReader(const InputFile& file) : file_(file), size_(int64_t(file.size())), buf_(65536) {}

    // Reads up to n bytes at pos; returns how many there were.
    size_t read(int64_t pos, uint8_t* dst, size_t n) {
        size_t got = 0;
        while (got < n && pos < size_) {
            if (pos < start_ || pos >= start_ + int64_t(len_)) {
                if (!fill(pos)) break;
            }
            const size_t off = size_t(pos - start_);
            const size_t take = std::min(n - got, len_ - off);
            std::memcpy(dst + got, buf_.data() + off, take);
            got += take;
            pos += int64_t(take);
        }
        return got;
    }
    int byteAt(int64_t pos) {
        uint8_t b;
        return read(pos, &b, 1) == 1 ? b : -1;
    }

private:
    bool fill(int64_t pos) {
        start_ = pos;
        len_ = file_.read(uint64_t(pos), buf_.data(), buf_.size());
        return len_ > 0;
    }

    const InputFile& file_;
    int64_t size_;
    std::vector<uint8_t> buf_;
    int64_t start_ = 0;
    size_t len_ = 0;
};

// H at pos: the four bytes there; bytes past the end keep their old values.
void readHeader(WindowReader& r, int64_t pos, uint8_t h[4]) {
    uint8_t tmp[4];
    const size_t got = r.read(pos, tmp, 4);
    std::memcpy(h, tmp, got);
}

// Frames that follow one another must agree in these header fields.
bool sameStream(const uint8_t a[4], const uint8_t b[4]) {
    return (a[1] & 0xFE) == (b[1] & 0xFE) && (a[2] & 0x0C) == (b[2] & 0x0C);
}

constexpr int kFramesForSync = 3;

// Counts the consecutive frames from `pos` that agree with its header, up to
// `enough`; `reachesEnd` tells whether the last one counted ends at or runs
// past `end`, `next` where the frame after the last counted one would start.
int chainFrom(WindowReader& r, int64_t pos, int64_t end, int enough, bool& reachesEnd, int64_t& next) {
    uint8_t first[4];
    reachesEnd = false;
    next = pos;
    if (r.read(pos, first, 4) != 4 || Mp3FrameLength(first) <= 0) return 0;
    int count = 0;
    uint8_t h[4];
    std::memcpy(h, first, 4);
    for (;;) {
        const int32_t length = Mp3FrameLength(h);
        if (length <= 0 || !sameStream(first, h)) break;
        ++count;
        next = pos + length;
        if (next >= end - 3) {
            reachesEnd = true;
            break;
        }
        if (count >= enough) break;
        pos = next;
        if (r.read(pos, h, 4) != 4) break;
    }
    return count;
}

// True when a stream starts at `pos`: several agreeing frames, or a short
// stream of whole frames up to the end of the data.
bool streamStartsAt(WindowReader& r, int64_t pos, int64_t end) {
    bool reachesEnd = false;
    int64_t next = 0;
    const int count = chainFrom(r, pos, end, kFramesForSync, reachesEnd, next);
    if (count >= kFramesForSync) return true;
    return reachesEnd && (count >= 2 || (count == 1 && next == end));
}

// The first position from `pos` where a stream starts, or -1.
int64_t findStream(WindowReader& r, int64_t pos, int64_t end) {
    uint8_t h[4];
    for (; pos + 4 <= end; ++pos) {
        if (r.byteAt(pos) != 0xFF) continue;
        if (r.read(pos, h, 4) == 4 && IsValidMp3FrameHeader(h) && streamStartsAt(r, pos, end)) return pos;
    }
    return -1;
}

// Where the stream that starts at `pos` ends: after its last frame, or where
// sync was lost for good. Damage inside is passed over when agreeing frames
// follow it.
int64_t streamEnd(WindowReader& r, int64_t pos, int64_t end) {
    for (;;) {
        bool reachesEnd = false;
        int64_t next = pos;
        chainFrom(r, pos, end, INT32_MAX, reachesEnd, next);
        if (reachesEnd) return next >= end ? end : next;
        const int64_t again = findStream(r, next, end);
        if (again < 0) return next;
        pos = again;
    }
}

// The RIFF-wrapped form: "RIFF", size, "WAVE", then a "fmt " chunk whose
// first bytes are a WAVEFORMATEX. The MP3 data is the contents of the
// "data" chunk after it.
bool analyseRiff(WindowReader& r, int64_t fileSize, Mp3StreamInfo& info) {
    uint8_t head[20];
    if (r.read(0, head, 20) != 20) return false;
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0 ||
        std::memcmp(head + 12, "fmt ", 4) != 0)
        return false;
    const uint32_t fmtSize = GetLE32(head + 16);
    uint8_t fmt[18] = {};
    r.read(20, fmt, std::min<uint32_t>(fmtSize, 18));
    info.riffWrapped = true;
    // Only MPEG Layer-3 data: a PCM WAV file named .mp3 is no stream.
    info.found = GetLE16(fmt) == kWaveFormatMpegLayer3;
    info.channels = GetLE16(fmt + 2) == 2 ? 2 : 1;
    info.sampleRate = int32_t(GetLE32(fmt + 4));
    info.bitRate = int32_t(GetLE32(fmt + 8) * 8u / 1000u);

    // Find the data chunk; without one the data is taken from offset 66 on.
    info.dataStart = 66;
    info.dataEnd = fileSize;
    int64_t pos = 20 + int64_t(fmtSize) + (fmtSize & 1u);
    while (pos + 8 <= fileSize) {
        uint8_t ch[8];
        if (r.read(pos, ch, 8) != 8) break;
        const uint32_t size = GetLE32(ch + 4);
        if (std::memcmp(ch, "data", 4) == 0) {
            info.dataStart = pos + 8;
            info.dataEnd = std::min<int64_t>(pos + 8 + int64_t(size), fileSize);
            break;
        }
        pos += 8 + int64_t(size) + (size & 1u);
    }
    if (info.found) {
        const int64_t start = findStream(r, info.dataStart, info.dataEnd);
        info.found = start >= 0;
        if (info.found) info.dataEnd = streamEnd(r, start, info.dataEnd);
    }
    return true;
}

}  // namespace

Mp3StreamInfo AnalyseMp3Stream(const InputFile& file) {
    const int64_t fileSize = int64_t(file.size());
    WindowReader r(file);
    Mp3StreamInfo info;
    if (analyseRiff(r, fileSize, info)) return info;
    info = Mp3StreamInfo();

    uint8_t* h = info.header;
    int64_t p = 0;
    readHeader(r, p, h);
    static const uint8_t kZero[4] = {};
    if (std::memcmp(h, kZero, 4) == 0) {
        while (p < fileSize && r.byteAt(p) == 0) ++p;
        readHeader(r, p, h);
    }
    if (h[0] == 'I' && h[1] == 'D' && h[2] == '3') {
        uint8_t tag[10] = {};
        r.read(p, tag, 10);
        const int64_t size = int64_t(tag[6] & 0x7F) << 21 | int64_t(tag[7] & 0x7F) << 14 |
                             int64_t(tag[8] & 0x7F) << 7 | int64_t(tag[9] & 0x7F);
        p += 10 + size;
        if (r.byteAt(p) == 0) {
            while (p < fileSize && r.byteAt(p) == 0) ++p;
        }
        readHeader(r, p, h);
    }
    // The frame search ends at the last position where four bytes remain;
    // a header counts only where a stream of agreeing frames starts.
    const int64_t start = findStream(r, p, fileSize);
    if (start >= 0) {
        p = start;
        readHeader(r, p, h);
        info.found = true;
    } else {
        while (!IsValidMp3FrameHeader(h) && p + 4 < fileSize) {
            ++p;
            readHeader(r, p, h);
        }
    }

    const Mp3FrameHeader f = ParseMp3FrameHeader(h);
    info.channels = Mp3Channels(f.channelMode);
    info.sampleRate = Mp3SampleRate(f.version, f.sampleRateIndex);
    info.bitRate = Mp3BitRate(f.version, f.layer, f.bitrateIndex);
    info.dataStart = p;
    info.dataEnd = info.found ? streamEnd(r, p, fileSize) : fileSize;
    return info;
}

namespace {

// The PCM as it comes, in one heap block that grows by doubling and then
// becomes the recording's block.
class PcmBlock {
public:
    bool append(const std::vector<uint8_t>& bytes) {
        if (bytes.empty()) return true;
        if (size_ + bytes.size() > size_t(INT32_MAX)) return false;
        if (size_ + bytes.size() > capacity_) {
            size_t want = std::max<size_t>(capacity_ * 2, size_t(1) << 20);
            while (want < size_ + bytes.size()) want *= 2;
            want = std::min<size_t>(want, size_t(INT32_MAX));
            void* p = std::realloc(block_.get(), want);
            if (!p) return false;
            (void)block_.release();
            block_.reset(static_cast<uint8_t*>(p));
            capacity_ = want;
        }
        std::memcpy(block_.get() + size_, bytes.data(), bytes.size());
        size_ += bytes.size();
        return true;
    }
    size_t size() const { return size_; }
    SampleBlock take() { return std::move(block_); }

private:
    SampleBlock block_;
    size_t size_ = 0, capacity_ = 0;
};

Mp3ImportResult failed(Mp3ImportStatus status, const char* message, OperationHost& host) {
    host.SetProStatus(0);
    Mp3ImportResult r;
    r.status = status;
    r.message = message;
    return r;
}

}  // namespace

Mp3ImportResult DecodeMp3File(const std::string& path, Mp3Decoder& decoder, OperationHost& host,
                              AudioDocument& doc) {
    host.setStopRequested(false);
    host.SetProStatus(0);
    const InputFile mp3(path);
    if (!mp3.isOpen()) return failed(Mp3ImportStatus::CannotOpenInput, kMsgCannotOpenMp3, host);
    const Mp3StreamInfo info = AnalyseMp3Stream(mp3);
    // Garbage, or a WAV file named .mp3: refused before anything is decoded.
    if (!info.found) return failed(Mp3ImportStatus::CannotOpenInput, kMsgCannotOpenMp3, host);
    if (!decoder.open(info.channels, info.sampleRate)) return failed(Mp3ImportStatus::NoCodec, kMsgNoMp3Codec, host);

    const int64_t size = int64_t(mp3.size());
    std::vector<uint8_t> chunk(kMp3ChunkBytes), pcm;
    PcmBlock block;
    int64_t remaining = info.dataEnd - info.dataStart;
    int64_t pos = info.dataStart;
    while (remaining > 0 && !host.stopRequested()) {
        const size_t n = size_t(std::min<int64_t>(remaining, kMp3ChunkBytes));
        const size_t got = mp3.read(uint64_t(pos), chunk.data(), n);
        if (got == 0) break;  // the file shrank under us: what is there is the end
        pos += int64_t(got);
        remaining = got < n ? 0 : remaining - int64_t(got);
        host.SetProStatus(remaining > size ? 100 : int32_t((size - remaining) * 100 / size));
        pcm.clear();
        decoder.decode(chunk.data(), got, pcm);  // data it cannot decode is passed over
        if (!block.append(pcm)) return failed(Mp3ImportStatus::TooLong, kMsgMp3TooLong, host);
        host.ProcessMessages();
    }
    Mp3ImportResult result;
    result.stopped = remaining > 0 && host.stopRequested();
    host.SetProStatus(0);
    // Whole frames only.
    const int32_t frameBytes = 2 * info.channels;
    const int32_t bytes = int32_t(block.size()) / frameBytes * frameBytes;
    doc.replace(block.take(), bytes, info.sampleRate, info.channels == 2, true);
    return result;
}

}  // namespace notavox
