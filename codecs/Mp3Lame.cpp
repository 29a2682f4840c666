// The program's MP3 encoder on libmp3lame.
#include <lame/lame.h>

#include <mutex>

#include "codecs/Mp3Encoder.h"

namespace notavox {

namespace {

constexpr size_t kMostValues = 2500;

// Output bound of libmp3lame for n input frames: 1.25 n + 7200 bytes, with n
// counted at the output rate.
uint64_t outputBound(uint64_t inputFrames, uint32_t inRate, uint32_t outRate) {
    const uint64_t frames = (inputFrames * outRate + inRate - 1) / inRate + 1152;
    return frames + frames / 4 + 7200;
}

class LameEncoder final : public Mp3Encoder {
public:
    ~LameEncoder() override { close(); }

    bool open(const Mp3EncoderSettings& s) override {
        close();
        if (s.inputRate <= 0 || s.outputRate <= 0 || s.bitRate <= 0) return false;
        const int channels = s.stereo ? 2 : 1;
        const uint64_t bound = outputBound(kMostValues / uint64_t(channels), uint32_t(s.inputRate), uint32_t(s.outputRate));
        if (bound > (64u << 20)) return false;

        // The library's first set-up fills tables of its own: one at a time.
        static std::mutex setUp;
        std::lock_guard<std::mutex> lock(setUp);
        lame_global_flags* gfp = lame_init();
        if (!gfp) return false;
        bool ok = lame_set_num_channels(gfp, channels) == 0 && lame_set_in_samplerate(gfp, s.inputRate) == 0 &&
                  lame_set_out_samplerate(gfp, s.outputRate) == 0 &&
                  lame_set_mode(gfp, s.stereo ? STEREO : MONO) == 0 && lame_set_VBR(gfp, vbr_off) == 0 &&
                  lame_set_brate(gfp, s.bitRate) == 0 && lame_set_quality(gfp, 2) == 0 &&
                  lame_set_copyright(gfp, 1) == 0 && lame_set_original(gfp, 1) == 0 &&
                  lame_set_error_protection(gfp, 0) == 0 && lame_set_extension(gfp, 0) == 0 &&
                  lame_set_emphasis(gfp, 0) == 0 && lame_set_bWriteVbrTag(gfp, 0) == 0;
        lame_set_write_id3tag_automatic(gfp, 0);
        if (!ok || lame_init_params(gfp) < 0) {
            lame_close(gfp);
            return false;
        }
        gfp_ = gfp;
        channels_ = channels;
        buffer_.assign(size_t(bound), 0);
        return true;
    }

    bool encode(const int16_t* values, size_t count, std::vector<uint8_t>& out) override {
        if (!gfp_ || count > kMostValues) return false;
        if (count == 0) return true;
        const int room = int(buffer_.size());
        const int n = channels_ == 2
                          ? lame_encode_buffer_interleaved(gfp_, const_cast<short*>(values), int(count / 2),
                                                           buffer_.data(), room)
                          : lame_encode_buffer(gfp_, values, values, int(count), buffer_.data(), room);
        if (n < 0) return false;
        out.insert(out.end(), buffer_.begin(), buffer_.begin() + n);
        return true;
    }

    bool flush(std::vector<uint8_t>& out) override {
        if (!gfp_) return false;
        const int n = lame_encode_flush(gfp_, buffer_.data(), int(buffer_.size()));
        if (n < 0) return false;
        out.insert(out.end(), buffer_.begin(), buffer_.begin() + n);
        return true;
    }

    void close() override {
        if (gfp_) lame_close(gfp_);
        gfp_ = nullptr;
    }

private:
    lame_global_flags* gfp_ = nullptr;
    int channels_ = 0;
    std::vector<unsigned char> buffer_;
};

}  // namespace

std::unique_ptr<Mp3Encoder> MakeLameEncoder() { return std::make_unique<LameEncoder>(); }

}  // namespace notavox
