#include "codecs/Mp3Import.h"

#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unistd.h>

#include "audio/SafeFile.h"
#include "audio/WavFile.h"
#include "codecs/Mp3Frame.h"

namespace notavox {

namespace {

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
    info.found = GetLE16(fmt) == WAVE_FORMAT_MPEGLAYER3;
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

bool ACMEnumFmtMethod(const FormatArea& format, Mp3FormatList& formats) {
    if (wfx::tag(format) == WAVE_FORMAT_MPEGLAYER3) formats.push_back(format);
    return true;
}

void EnumerateMP3Formats(Decoder& decoder, Mp3FormatList& formats, OperationHost& host) {
    for (const FormatArea& f : decoder.formats()) ACMEnumFmtMethod(f, formats);
    host.ProcessMessages();
}

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

void ChooseMp3Formats(const Mp3StreamInfo& info, const Mp3FormatList& formats, FormatArea& source,
                      FormatArea& destination) {
    const uint16_t channels = uint16_t(info.channels);
    const uint32_t rate = uint32_t(info.sampleRate);
    wfx::set16(destination, wfx::kChannels, channels);
    wfx::set32(destination, wfx::kSamplesPerSec, rate);
    wfx::set16(destination, wfx::kBitsPerSample, 16);
    wfx::set32(destination, wfx::kAvgBytesPerSec, channels * rate * 16u / 8u);
    wfx::set16(destination, wfx::kBlockAlign, uint16_t(channels * 16u / 8u));
    wfx::set16(destination, wfx::kExtraSize, 0);

    wfx::set16(source, wfx::kChannels, channels);
    wfx::set32(source, wfx::kSamplesPerSec, rate);
    wfx::set16(source, wfx::kBitsPerSample, 0);
    wfx::set32(source, wfx::kAvgBytesPerSec, uint32_t(info.bitRate) * 1000u / 8u);

    const FormatArea wanted = source;
    for (const FormatArea& f : formats) {
        if (wfx::channels(f) == wfx::channels(wanted) && wfx::samplesPerSec(f) == wfx::samplesPerSec(wanted) &&
            wfx::bitsPerSample(f) == wfx::bitsPerSample(wanted) &&
            wfx::avgBytesPerSec(f) == wfx::avgBytesPerSec(wanted))
            source = f;  // the last match wins
    }
}

namespace {

// The WAV header for `dataBytes` bytes of 16-bit PCM in the destination
// format; the RIFF size counts no pad byte, as none is written.
void makeHeader(uint8_t h[44], const FormatArea& destination, uint64_t dataBytes) {
    MakeWAVHeader(h, wfx::channels(destination) == 2, true, int32_t(wfx::samplesPerSec(destination)),
                  int32_t(uint32_t(dataBytes)));
    PutLE32(h + 4, uint32_t(36 + dataBytes));
}

// Why the WAV file could not be made: a full folder (the folder for
// temporary files, when the program decodes an MP3 file it opens) is named
// as such; any other cause follows the fixed text.
std::string cannotCreateText(const std::string& wavPath, int error) {
    if (error == ENOSPC || error == EDQUOT) {
        const size_t slash = wavPath.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string(".") : wavPath.substr(0, slash + 1);
        return "Im Ordner " + folder + " ist kein Platz mehr für die entpackte Aufnahme.";
    }
    const std::string cause = SaveErrorText(error);
    return cause.empty() ? std::string(kMsgCannotCreateWav) : std::string(kMsgCannotCreateWav) + " " + cause;
}

}  // namespace

Mp3ImportResult ConvertMP3WAV(const std::string& mp3Path, const std::string& wavPath,
                              const Mp3FormatList& formats, TACMConvertor& mp3wav, OperationHost& host) {
    Mp3ImportResult result;
    if (formats.empty()) {
        result.status = Mp3ImportStatus::NoCodec;
        result.message = kMsgNoMp3Codec;
        return result;
    }
    // A decoding that pumps messages can be asked for another one; the one
    // stream of the component belongs to the first.
    if (mp3wav.Active()) {
        result.status = Mp3ImportStatus::ComponentError;
        result.message = ACMResultText("acmStreamOpen:", ACMERR_BUSY);
        return result;
    }
    host.setStopRequested(false);
    host.SetProStatus(0);

    const InputFile mp3(mp3Path);
    if (!mp3.isOpen()) {
        host.SetProStatus(0);
        result.status = Mp3ImportStatus::CannotOpenInput;
        result.message = kMsgCannotOpenMp3;
        return result;
    }
    SafeFile wav;
    if (!wav.open(wavPath)) {
        host.SetProStatus(0);
        result.status = Mp3ImportStatus::CannotCreateOutput;
        result.message = cannotCreateText(wavPath, wav.error());
        return result;
    }
    const int64_t size = int64_t(mp3.size());
    const Mp3StreamInfo info = AnalyseMp3Stream(mp3);
    if (!info.found) {
        // Garbage, or a WAV file named .mp3: refused before anything is decoded.
        wav.discard();
        host.SetProStatus(0);
        result.status = Mp3ImportStatus::CannotOpenInput;
        result.message = kMsgCannotOpenMp3;
        return result;
    }
    ChooseMp3Formats(info, formats, mp3wav.ACMFormatIn(), mp3wav.ACMFormatOut());

    // The provisional header says nothing of the sizes yet.
    uint8_t header[44] = {};
    makeHeader(header, mp3wav.ACMFormatOut(), 0);
    PutLE32(header + 4, 0);
    wav.write(header, sizeof header);
    uint64_t written = sizeof header;

    try {
        // A block align of 0 would give chunks of no bytes and never end.
        const uint32_t align = std::max<uint32_t>(1, wfx::blockAlign(mp3wav.ACMFormatIn()));
        mp3wav.SetInputBufferSize(align * 1024u);
        mp3wav.SetActive(true);

        Decoder& decoder = mp3wav.Codec();
        StreamHeader& hdr = mp3wav.Header();
        int64_t remaining = info.dataEnd - info.dataStart;
        int64_t pos = info.dataStart;
        for (int pass = 0; remaining > 0 && !host.stopRequested(); ++pass) {
            uint32_t n = mp3wav.InputBufferSize();
            uint32_t flag = pass == 0 ? ACM_STREAMCONVERTF_START : 0;
            if (remaining < int64_t(n)) {
                n = uint32_t(remaining);
                flag = ACM_STREAMCONVERTF_END;
            }
            const size_t got = mp3.read(uint64_t(pos), mp3wav.SourceBuffer(), n);
            if (got < n) {
                // The file shrank under us: what is there is the end.
                n = uint32_t(got);
                remaining = n;
                flag = ACM_STREAMCONVERTF_END;
                if (n == 0) break;
            }
            pos += n;
            remaining -= n;
            hdr.cbSrcLength = n;
            host.SetProStatus(remaining > size ? 100 : int32_t((size - remaining) * 100 / size));
            try {
                CheckACMResult("acmStreamConvert:", decoder.convert(hdr, flag));
            } catch (const EACMConvertor&) {
                // A chunk the codec refuses is skipped.
            }
            const uint32_t used = hdr.cbSrcLengthUsed;
            if (used > 0 && used < n) {
                pos -= n - used;
                remaining += n - used;
            }
            const uint32_t produced = std::min(hdr.cbDstLengthUsed, mp3wav.DestinationBufferSize());
            if (produced > 0) {
                wav.write(mp3wav.DestinationBuffer(), produced);
                written += produced;
            }
            host.ProcessMessages();
        }
        result.stopped = remaining > 0 && host.stopRequested();

        host.SetProStatus(0);
        CheckACMResult("acmStreamReset", decoder.reset());
        mp3wav.SetActive(false);
    } catch (const EACMConvertor& e) {
        try {
            mp3wav.SetActive(false);
        } catch (const EACMConvertor&) {
        }
        wav.discard();
        ::unlink(wavPath.c_str());
        host.SetProStatus(0);
        result.status = Mp3ImportStatus::ComponentError;
        result.message = e.what();
        result.stopped = false;
        return result;
    }

    makeHeader(header, mp3wav.ACMFormatOut(), written - sizeof header);
    wav.writeAt(0, header, sizeof header);
    const bool committed = wav.commit();
    host.SetProStatus(0);
    if (!committed || written > 0xFFFFFFFFull) {
        ::unlink(wavPath.c_str());
        result.status = Mp3ImportStatus::CannotCreateOutput;
        result.message = cannotCreateText(wavPath, committed ? 0 : wav.error());
    }
    return result;
}

std::vector<uint8_t> StoredACMFormatIn() { return WriteFormatProperty(MakeMp3Format(24000, 2, 56)); }

std::vector<uint8_t> StoredACMFormatOut() { return WriteFormatProperty(MakePcmFormat(2, 44100, 16, kFormatAreaSize)); }

void LoadStoredMp3wavProperties(TACMConvertor& mp3wav) {
    mp3wav.SetInputBufferSize(kStoredInputBufferSize);
    mp3wav.ReadACMFormatIn(StoredACMFormatIn());
    mp3wav.ReadACMFormatOut(StoredACMFormatOut());
}

}  // namespace notavox
