// The program's decoder: libmpg123 fed in small pieces.
#include <mpg123.h>

#include <algorithm>
#include <span>

#include "codecs/Decoder.h"
#include "codecs/Mp3Frame.h"

namespace notavox {

namespace {

// libmpg123 is set up once per process; a failure leaves the decoder without
// formats and without streams.
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

class Mpg123Decoder final : public Decoder {
public:
    ~Mpg123Decoder() override { close(); }

    std::vector<FormatArea> formats() override {
        std::vector<FormatArea> list;
        if (!decoderAvailable()) return list;
        for (int32_t rate : kMp3StreamRates)
            for (int channels = 1; channels <= 2; ++channels)
                for (int32_t kbits : rate >= 32000 ? std::span<const int32_t>(kMpeg1LayerIIIBitRates)
                                                   : std::span<const int32_t>(kMpeg2LayerIIIBitRates))
                    list.push_back(MakeMp3Format(uint32_t(rate), uint16_t(channels), uint32_t(kbits)));
        return list;
    }

    MMRESULT open(const FormatArea& src, const FormatArea& dst, bool) override {
        if (mh_) return ACMERR_BUSY;
        if (!decoderAvailable()) return MMSYSERR_NODRIVER;
        const uint16_t channels = wfx::channels(src);
        const uint32_t rate = wfx::samplesPerSec(src);
        const bool sourceOk = wfx::tag(src) == WAVE_FORMAT_MPEGLAYER3 && (channels == 1 || channels == 2) &&
                              std::ranges::count(kMp3StreamRates, int32_t(rate)) > 0;
        const bool destinationOk = wfx::tag(dst) == WAVE_FORMAT_PCM && wfx::channels(dst) == channels &&
                                   wfx::samplesPerSec(dst) == rate && wfx::bitsPerSample(dst) == 16 &&
                                   wfx::blockAlign(dst) == channels * 2u &&
                                   wfx::avgBytesPerSec(dst) == rate * channels * 2u;
        if (!sourceOk || !destinationOk) return ACMERR_NOTPOSSIBLE;
        int err = 0;
        mh_ = mpg123_new(nullptr, &err);
        if (!mh_) return MMSYSERR_NOMEM;
        mpg123_param(mh_, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
        mpg123_param(mh_, MPG123_RESYNC_LIMIT, -1, 0);
        mpg123_format_none(mh_);
        if (mpg123_format(mh_, long(rate), channels == 1 ? MPG123_MONO : MPG123_STEREO, MPG123_ENC_SIGNED_16) !=
                MPG123_OK ||
            mpg123_open_feed(mh_) != MPG123_OK) {
            close();
            return ACMERR_NOTPOSSIBLE;
        }
        fed_ = false;
        return MMSYSERR_NOERROR;
    }

    MMRESULT size(uint32_t sourceBytes, uint32_t& destinationBytes) override {
        if (!mh_) return MMSYSERR_INVALHANDLE;
        // Enough for the densest Layer III stream plus the reserve.
        const uint64_t size = uint64_t(sourceBytes) * 64u + 2u * kReserve;
        if (size > 0x7FFFFFFFu) return MMSYSERR_INVALPARAM;
        destinationBytes = uint32_t(size);
        return MMSYSERR_NOERROR;
    }

    MMRESULT convert(StreamHeader& h, uint32_t flags) override {
        if (!mh_) return MMSYSERR_INVALHANDLE;
        h.cbSrcLengthUsed = 0;
        h.cbDstLengthUsed = 0;
        if ((flags & ACM_STREAMCONVERTF_START) && fed_ && reset() != MMSYSERR_NOERROR) return ACMERR_NOTPOSSIBLE;
        uint32_t used = 0;
        bool good = drain(h.pbDst, h.cbDstLength, used);
        uint32_t fed = 0;
        while (good && fed < h.cbSrcLength && h.cbDstLength - used >= kReserve) {
            const uint32_t piece = std::min(kPiece, h.cbSrcLength - fed);
            if (mpg123_feed(mh_, h.pbSrc + fed, piece) != MPG123_OK) {
                good = false;
                break;
            }
            fed_ = true;
            fed += piece;
            good = drain(h.pbDst, h.cbDstLength, used);
        }
        h.cbSrcLengthUsed = fed;
        h.cbDstLengthUsed = used;
        return good ? MMSYSERR_NOERROR : ACMERR_NOTPOSSIBLE;
    }

    MMRESULT reset() override {
        if (!mh_) return MMSYSERR_INVALHANDLE;
        mpg123_close(mh_);
        fed_ = false;
        return mpg123_open_feed(mh_) == MPG123_OK ? MMSYSERR_NOERROR : MMSYSERR_NOMEM;
    }

    MMRESULT close() override {
        if (!mh_) return MMSYSERR_INVALHANDLE;
        mpg123_delete(mh_);
        mh_ = nullptr;
        return MMSYSERR_NOERROR;
    }

private:
    // Moves decoded PCM into dst[used..cap). False on a decoder error.
    bool drain(uint8_t* dst, uint32_t cap, uint32_t& used) {
        while (used < cap) {
            size_t done = 0;
            const int r = mpg123_read(mh_, dst + used, cap - used, &done);
            used += uint32_t(done);
            if (r == MPG123_NEW_FORMAT) continue;
            if (r == MPG123_NEED_MORE || r == MPG123_DONE) return true;
            if (r != MPG123_OK) return false;
            if (done == 0) return true;
        }
        return true;
    }

    mpg123_handle* mh_ = nullptr;
    bool fed_ = false;  // bytes were offered since the last start
};

}  // namespace

std::unique_ptr<Decoder> MakeMpg123Decoder() { return std::make_unique<Mpg123Decoder>(); }

}  // namespace notavox
