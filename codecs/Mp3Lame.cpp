// The program's MP3 encoder on libmp3lame.
#include <lame/lame.h>

#include <mutex>

#include "codecs/Mp3Encoder.h"

namespace notavox {

namespace {

constexpr uint64_t kMostValues = 2500;

class LameEncoder final : public Mp3Encoder {
public:
    ~LameEncoder() override { release(); }

    bool open(const Mp3EncoderSettings& s) override {
        release();
        if (s.inputRate <= 0 || s.outputRate <= 0 || s.bitRate <= 0) return false;
        // The library's bound for n frames counted at the output rate: 1.25 n + 7200 bytes.
        const uint64_t inRate = uint64_t(s.inputRate), inFrames = kMostValues / (s.stereo ? 2 : 1);
        const uint64_t frames = (inFrames * uint64_t(s.outputRate) + inRate - 1) / inRate + 1152;
        const uint64_t bound = frames + frames / 4 + 7200;
        if (bound > (64u << 20)) return false;

        // The library's first set-up fills tables of its own: one at a time.
        static std::mutex setUp;
        std::lock_guard<std::mutex> lock(setUp);
        lame_global_flags* gfp = lame_init();
        if (!gfp) return false;
        const bool ok =
            lame_set_num_channels(gfp, s.stereo ? 2 : 1) == 0 && lame_set_in_samplerate(gfp, s.inputRate) == 0 &&
            lame_set_out_samplerate(gfp, s.outputRate) == 0 && lame_set_mode(gfp, s.stereo ? STEREO : MONO) == 0 &&
            lame_set_VBR(gfp, vbr_off) == 0 && lame_set_brate(gfp, s.bitRate) == 0 && lame_set_quality(gfp, 2) == 0 &&
            lame_set_copyright(gfp, 1) == 0 && lame_set_original(gfp, 1) == 0 &&
            lame_set_error_protection(gfp, 0) == 0 && lame_set_extension(gfp, 0) == 0 &&
            lame_set_emphasis(gfp, 0) == 0 && lame_set_bWriteVbrTag(gfp, 0) == 0;
        lame_set_write_id3tag_automatic(gfp, 0);
        if (!ok || lame_init_params(gfp) < 0) {
            lame_close(gfp);
            return false;
        }
        gfp_ = gfp;
        stereo_ = s.stereo;
        buffer_.assign(size_t(bound), 0);
        return true;
    }

    bool encode(const int16_t* values, size_t count, std::vector<uint8_t>& out) override {
        if (!gfp_ || count > kMostValues) return false;
        const int room = int(buffer_.size());
        return take(stereo_ ? lame_encode_buffer_interleaved(gfp_, const_cast<short*>(values), int(count / 2),
                                                             buffer_.data(), room)
                            : lame_encode_buffer(gfp_, values, values, int(count), buffer_.data(), room),
                    out);
    }

    bool flush(std::vector<uint8_t>& out) override {
        const bool ok = gfp_ && take(lame_encode_flush(gfp_, buffer_.data(), int(buffer_.size())), out);
        release();
        return ok;
    }

private:
    void release() {
        if (gfp_) lame_close(gfp_);
        gfp_ = nullptr;
    }

    // Appends the n bytes the library gave out; false when it failed (n < 0).
    bool take(int n, std::vector<uint8_t>& out) {
        if (n < 0) return false;
        out.insert(out.end(), buffer_.begin(), buffer_.begin() + n);
        return true;
    }

    lame_global_flags* gfp_ = nullptr;
    bool stereo_ = false;
    std::vector<unsigned char> buffer_;
};

}  // namespace

std::unique_ptr<Mp3Encoder> MakeLameEncoder() { return std::make_unique<LameEncoder>(); }

}  // namespace notavox
