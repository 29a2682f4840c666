// The program's decoder: libmpg123 fed in small pieces.
#include <mpg123.h>

#include <algorithm>

#include "codecs/Mp3Decoder.h"

namespace notavox {

namespace {

// Bytes offered to the library at a time, and the PCM taken out at a time.
constexpr size_t kPiece = 256;
constexpr size_t kOutStep = 65536;

class Mpg123Decoder final : public Mp3Decoder {
public:
    ~Mpg123Decoder() override { release(); }

    // The library refuses a rate that no MPEG stream has.
    bool open(int channels, int32_t rate) override {
        release();
        static const bool ready = mpg123_init() == MPG123_OK;
        int err = 0;
        if (!ready || !(mh_ = mpg123_new(nullptr, &err))) return false;
        mpg123_param(mh_, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
        mpg123_param(mh_, MPG123_RESYNC_LIMIT, -1, 0);
        mpg123_format_none(mh_);
        const int layout = channels == 1 ? MPG123_MONO : MPG123_STEREO;
        const bool ok = mpg123_format(mh_, long(rate), layout, MPG123_ENC_SIGNED_16) == MPG123_OK &&
                        mpg123_open_feed(mh_) == MPG123_OK;
        if (!ok) release();
        return ok;
    }

    void decode(const uint8_t* data, size_t size, std::vector<uint8_t>& pcm) override {
        if (!mh_) return;
        for (size_t fed = 0; fed < size;) {
            const size_t piece = std::min(kPiece, size - fed);
            if (mpg123_feed(mh_, data + fed, piece) != MPG123_OK) return;
            fed += piece;
            if (!drain(pcm)) drain(pcm);  // after damage, what follows it is read before more is fed
        }
    }

private:
    // Appends the PCM decoded so far. False on a decoder error.
    bool drain(std::vector<uint8_t>& pcm) {
        for (;;) {
            const size_t used = pcm.size();
            pcm.resize(used + kOutStep);
            size_t done = 0;
            const int r = mpg123_read(mh_, pcm.data() + used, kOutStep, &done);
            pcm.resize(used + done);
            if (r == MPG123_NEW_FORMAT) continue;
            if (r == MPG123_NEED_MORE || r == MPG123_DONE || (r == MPG123_OK && done == 0)) return true;
            if (r != MPG123_OK) return false;
        }
    }

    void release() {
        if (mh_) mpg123_delete(mh_);
        mh_ = nullptr;
    }

    mpg123_handle* mh_ = nullptr;
};

}  // namespace

std::unique_ptr<Mp3Decoder> MakeMpg123Decoder() { return std::make_unique<Mpg123Decoder>(); }

}  // namespace notavox
