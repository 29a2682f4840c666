#include "codecs/AcmDriver.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <mpg123.h>
#include <mutex>
#include <vector>

namespace notavox {

namespace {

constexpr HACMDRIVERID kDriverId = 1;
constexpr HACMDRIVER kDriverHandle = 0x4D503331;  // the one open instance

constexpr int32_t kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int32_t kMpeg1BitRates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int32_t kMpeg2BitRates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

bool isMpegRate(uint32_t rate) {
    return std::find(std::begin(kRates), std::end(kRates), int32_t(rate)) != std::end(kRates);
}

// An MPEG Layer-3 format record as the enumeration reports it.
FormatArea makeMp3Format(int32_t rate, int channels, int32_t kbits) {
    FormatArea a{};
    const bool mpeg1 = rate >= 32000;
    wfx::set16(a, wfx::kTag, WAVE_FORMAT_MPEGLAYER3);
    wfx::set16(a, wfx::kChannels, uint16_t(channels));
    wfx::set32(a, wfx::kSamplesPerSec, uint32_t(rate));
    wfx::set32(a, wfx::kAvgBytesPerSec, uint32_t(kbits) * 1000u / 8u);
    wfx::set16(a, wfx::kBlockAlign, 1);
    wfx::set16(a, wfx::kBitsPerSample, 0);
    wfx::set16(a, wfx::kExtraSize, uint16_t(wfx::kMp3ExtraBytes));
    wfx::set16(a, wfx::kMp3Id, 1);      // MPEG
    wfx::set32(a, wfx::kMp3Flags, 2);   // padding off
    wfx::set16(a, wfx::kMp3BlockSize, uint16_t((mpeg1 ? 144u : 72u) * uint32_t(kbits) * 1000u / uint32_t(rate)));
    wfx::set16(a, wfx::kMp3FramesPerBlock, 1);
    wfx::set16(a, wfx::kMp3CodecDelay, 1393);
    return a;
}

// libmpg123 is set up once per process; a failure leaves the driver absent.
bool decoderAvailable() {
    static const bool ok = [] {
        if (mpg123_init() != MPG123_OK) return false;
        int err = 0;
        mpg123_handle* mh = mpg123_new(nullptr, &err);
        if (!mh) return false;
        mpg123_delete(mh);
        return true;
    }();
    return ok;
}

// Source bytes offered to the decoder at a time, and the room in the
// destination that must be left before another piece is offered: more than
// the PCM that one piece and a frame held back from earlier pieces can give.
constexpr uint32_t kPiece = 256;
constexpr uint32_t kReserve = 65536;

struct Stream {
    mpg123_handle* mh = nullptr;
    int32_t rate = 0;
    int channels = 0;
    bool fed = false;  // bytes were offered since the last start
    ACMSTREAMHEADER* header = nullptr;
    uint32_t preparedSrc = 0;
    uint32_t preparedDst = 0;

    ~Stream() {
        if (mh) mpg123_delete(mh);
    }

    bool restart() {
        mpg123_close(mh);
        fed = false;
        return mpg123_open_feed(mh) == MPG123_OK;
    }

    // Moves decoded PCM into dst[used..cap). False on a decoder error.
    bool drain(uint8_t* dst, uint32_t cap, uint32_t& used) {
        while (used < cap) {
            size_t done = 0;
            const int r = mpg123_read(mh, dst + used, cap - used, &done);
            used += uint32_t(done);
            if (r == MPG123_NEW_FORMAT) continue;
            if (r == MPG123_NEED_MORE || r == MPG123_DONE) return true;
            if (r != MPG123_OK) return false;
            if (done == 0) return true;
        }
        return true;
    }
};

class Mpg123Driver final : public AcmDriver {
public:
    MMRESULT acmDriverEnum(const DriverCallback& callback, uint32_t flags) override {
        if (flags & ~ACM_DRIVERENUMF_DISABLED & ~0x40000000u) return MMSYSERR_INVALFLAG;
        if (decoderAvailable()) callback(kDriverId);
        return MMSYSERR_NOERROR;
    }

    MMRESULT acmDriverOpen(HACMDRIVER* driver, HACMDRIVERID id, uint32_t flags) override {
        if (!driver) return MMSYSERR_INVALPARAM;
        if (flags != 0) return MMSYSERR_INVALFLAG;
        if (id != kDriverId || !decoderAvailable()) return MMSYSERR_INVALHANDLE;
        *driver = kDriverHandle;
        return MMSYSERR_NOERROR;
    }

    MMRESULT acmFormatEnum(HACMDRIVER driver, ACMFORMATDETAILS& details, const FormatCallback& callback,
                           uint32_t flags) override {
        if (driver != kDriverHandle) return MMSYSERR_INVALHANDLE;
        if (flags != 0) return MMSYSERR_INVALFLAG;
        if (details.cbStruct < kAcmFormatDetailsSize || !details.pwfx || details.cbwfx < 18)
            return MMSYSERR_INVALPARAM;
        uint32_t index = 0;
        for (int32_t rate : kRates) {
            const bool mpeg1 = rate >= 32000;
            for (int channels = 1; channels <= 2; ++channels) {
                for (int32_t kbits : (mpeg1 ? kMpeg1BitRates : kMpeg2BitRates)) {
                    const FormatArea f = makeMp3Format(rate, channels, kbits);
                    const uint32_t size = std::min<uint32_t>(details.cbwfx, 18 + wfx::kMp3ExtraBytes);
                    std::fill(details.pwfx, details.pwfx + details.cbwfx, uint8_t(0));
                    std::copy(f.begin(), f.begin() + size, details.pwfx);
                    details.cbwfx = size;
                    details.dwFormatIndex = index++;
                    details.dwFormatTag = WAVE_FORMAT_MPEGLAYER3;
                    details.fdwSupport = 0x1;  // converts to PCM
                    std::snprintf(details.szFormat, sizeof details.szFormat, "%d kBit/s, %d Hz, %s", int(kbits),
                                  int(rate), channels == 2 ? "Stereo" : "Mono");
                    const bool more = callback(kDriverId, details);
                    details.cbwfx = std::max<uint32_t>(details.cbwfx, size);
                    if (!more) return MMSYSERR_NOERROR;
                }
            }
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT acmDriverClose(HACMDRIVER driver, uint32_t flags) override {
        if (driver != kDriverHandle) return MMSYSERR_INVALHANDLE;
        return flags == 0 ? MMSYSERR_NOERROR : MMSYSERR_INVALFLAG;
    }

    MMRESULT acmStreamOpen(HACMSTREAM* handle, const FormatArea& src, const FormatArea& dst,
                           uint32_t flags) override {
        if (!handle) return MMSYSERR_INVALPARAM;
        *handle = 0;
        if (flags & ~ACM_STREAMOPENF_NONREALTIME) return MMSYSERR_INVALFLAG;
        if (!decoderAvailable()) return MMSYSERR_NODRIVER;
        const uint16_t channels = wfx::channels(src);
        const uint32_t rate = wfx::samplesPerSec(src);
        const bool sourceOk = wfx::tag(src) == WAVE_FORMAT_MPEGLAYER3 && (channels == 1 || channels == 2) &&
                              isMpegRate(rate);
        const bool destinationOk = wfx::tag(dst) == WAVE_FORMAT_PCM && wfx::channels(dst) == channels &&
                                   wfx::samplesPerSec(dst) == rate && wfx::bitsPerSample(dst) == 16 &&
                                   wfx::blockAlign(dst) == channels * 2u &&
                                   wfx::avgBytesPerSec(dst) == rate * channels * 2u;
        if (!sourceOk || !destinationOk) return ACMERR_NOTPOSSIBLE;

        auto s = std::make_unique<Stream>();
        int err = 0;
        s->mh = mpg123_new(nullptr, &err);
        if (!s->mh) return MMSYSERR_NOMEM;
        s->rate = int32_t(rate);
        s->channels = channels;
        mpg123_param(s->mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
        mpg123_param(s->mh, MPG123_RESYNC_LIMIT, -1, 0);
        mpg123_format_none(s->mh);
        if (mpg123_format(s->mh, long(rate), channels == 1 ? MPG123_MONO : MPG123_STEREO,
                          MPG123_ENC_SIGNED_16) != MPG123_OK ||
            mpg123_open_feed(s->mh) != MPG123_OK)
            return ACMERR_NOTPOSSIBLE;
        std::lock_guard<std::mutex> lock(mutex_);
        const HACMSTREAM h = nextHandle_++;
        streams_[h] = std::move(s);
        *handle = h;
        return MMSYSERR_NOERROR;
    }

    MMRESULT acmStreamSize(HACMSTREAM handle, uint32_t inputBytes, uint32_t* outputBytes, uint32_t flags) override {
        Stream* s = find(handle);
        if (!s) return MMSYSERR_INVALHANDLE;
        if (flags != ACM_STREAMSIZEF_SOURCE) return MMSYSERR_INVALFLAG;
        if (!outputBytes) return MMSYSERR_INVALPARAM;
        // Enough for the densest Layer III stream plus the reserve.
        const uint64_t size = uint64_t(inputBytes) * 64u + 2u * kReserve;
        if (size > 0x7FFFFFFFu) return MMSYSERR_INVALPARAM;
        *outputBytes = uint32_t(size);
        return MMSYSERR_NOERROR;
    }

    MMRESULT acmStreamPrepareHeader(HACMSTREAM handle, ACMSTREAMHEADER& h, uint32_t flags) override {
        Stream* s = find(handle);
        if (!s) return MMSYSERR_INVALHANDLE;
        if (flags != 0) return MMSYSERR_INVALFLAG;
        if (h.cbStruct < kAcmStreamHeaderSize || !h.pbSrc || !h.pbDst) return MMSYSERR_INVALPARAM;
        if (h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) return MMSYSERR_NOERROR;
        if (s->header) return ACMERR_BUSY;
        h.fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
        s->header = &h;
        s->preparedSrc = h.cbSrcLength;
        s->preparedDst = h.cbDstLength;
        return MMSYSERR_NOERROR;
    }

    MMRESULT acmStreamConvert(HACMSTREAM handle, ACMSTREAMHEADER& h, uint32_t flags) override {
        Stream* s = find(handle);
        if (!s) return MMSYSERR_INVALHANDLE;
        if (flags & ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
            return MMSYSERR_INVALFLAG;
        if (!(h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) || s->header != &h) return ACMERR_UNPREPARED;
        if (h.cbSrcLength > s->preparedSrc || h.cbDstLength > s->preparedDst) return MMSYSERR_INVALPARAM;
        h.fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
        h.cbSrcLengthUsed = 0;
        h.cbDstLengthUsed = 0;
        if ((flags & ACM_STREAMCONVERTF_START) && s->fed && !s->restart()) return ACMERR_NOTPOSSIBLE;

        uint32_t used = 0;
        bool good = s->drain(h.pbDst, h.cbDstLength, used);
        uint32_t fed = 0;
        while (good && fed < h.cbSrcLength && h.cbDstLength - used >= kReserve) {
            const uint32_t piece = std::min(kPiece, h.cbSrcLength - fed);
            if (mpg123_feed(s->mh, h.pbSrc + fed, piece) != MPG123_OK) {
                good = false;
                break;
            }
            s->fed = true;
            fed += piece;
            good = s->drain(h.pbDst, h.cbDstLength, used);
        }
        h.cbSrcLengthUsed = fed;
        h.cbDstLengthUsed = used;
        h.fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
        return good ? MMSYSERR_NOERROR : ACMERR_NOTPOSSIBLE;
    }

    MMRESULT acmStreamReset(HACMSTREAM handle, uint32_t flags) override {
        Stream* s = find(handle);
        if (!s) return MMSYSERR_INVALHANDLE;
        if (flags != 0) return MMSYSERR_INVALFLAG;
        return s->restart() ? MMSYSERR_NOERROR : MMSYSERR_NOMEM;
    }

    MMRESULT acmStreamUnprepareHeader(HACMSTREAM handle, ACMSTREAMHEADER& h, uint32_t flags) override {
        Stream* s = find(handle);
        if (!s) return MMSYSERR_INVALHANDLE;
        if (flags != 0) return MMSYSERR_INVALFLAG;
        if (!(h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) || s->header != &h) return ACMERR_UNPREPARED;
        h.fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
        s->header = nullptr;
        return MMSYSERR_NOERROR;
    }

    MMRESULT acmStreamClose(HACMSTREAM handle, uint32_t flags) override {
        std::unique_ptr<Stream> closed;  // deleted outside the lock
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = streams_.find(handle);
        if (it == streams_.end()) return MMSYSERR_INVALHANDLE;
        if (flags != 0) return MMSYSERR_INVALFLAG;
        closed = std::move(it->second);
        streams_.erase(it);
        return MMSYSERR_NOERROR;
    }

private:
    // Streams of different threads are independent; only the table is shared.
    Stream* find(HACMSTREAM h) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = streams_.find(h);
        return it == streams_.end() ? nullptr : it->second.get();
    }

    std::mutex mutex_;
    std::map<HACMSTREAM, std::unique_ptr<Stream>> streams_;
    HACMSTREAM nextHandle_ = 0x1000;
};

}  // namespace

AcmDriver& SystemAcmDriver() {
    static Mpg123Driver driver;
    return driver;
}

}  // namespace notavox
