// The program's MP3 encoder: the four calls on libmp3lame.
#include <lame/lame.h>

#include <mutex>

#include "codecs/Mp3Encoder.h"

namespace notavox {

namespace {

constexpr HBE_STREAM kStream = 1;  // the one stream of an encoder

// Output bound of libmp3lame for n input frames: 1.25 n + 7200 bytes, with n
// counted at the output rate.
uint64_t outputBound(uint64_t inputFrames, uint32_t inRate, uint32_t outRate) {
    const uint64_t frames = (inputFrames * outRate + inRate - 1) / inRate + 1152;
    return frames + frames / 4 + 7200;
}

class LameEncoder final : public Mp3EncoderStream {
public:
    ~LameEncoder() override { beCloseStream(kStream); }

    BE_ERR beInitStream(const BE_CONFIG& c, uint32_t& samples, uint32_t& bufferSize, HBE_STREAM& handle) override {
        handle = 0;
        if (gfp_) return BE_ERR_NO_MORE_HANDLES;
        if (c.dwConfig != BE_CONFIG_LAME || c.dwStructVersion < 1 || c.dwStructSize < sizeof(BE_CONFIG))
            return BE_ERR_INVALID_FORMAT;
        if (c.nMode < BE_MP3_MODE_STEREO || c.nMode > BE_MP3_MODE_MONO || c.dwSampleRate == 0 ||
            c.dwReSampleRate == 0 || c.dwBitrate == 0)
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        const int channels = c.nMode == BE_MP3_MODE_MONO ? 1 : 2;
        const uint64_t bound = outputBound(2500 / uint64_t(channels), c.dwSampleRate, c.dwReSampleRate);
        if (bound > (64u << 20)) return BE_ERR_INVALID_FORMAT_PARAMETERS;

        // The library's first set-up fills tables of its own: one at a time.
        static std::mutex setUp;
        std::lock_guard<std::mutex> lock(setUp);
        lame_global_flags* gfp = lame_init();
        if (!gfp) return BE_ERR_NO_MORE_HANDLES;
        static const MPEG_mode kModes[] = {STEREO, JOINT_STEREO, DUAL_CHANNEL, MONO};
        bool ok = lame_set_num_channels(gfp, channels) == 0 && lame_set_in_samplerate(gfp, int(c.dwSampleRate)) == 0 &&
                  lame_set_out_samplerate(gfp, int(c.dwReSampleRate)) == 0 && lame_set_mode(gfp, kModes[c.nMode]) == 0;
        if (c.bEnableVBR) {
            ok = ok && lame_set_VBR(gfp, vbr_default) == 0 && lame_set_VBR_q(gfp, c.nVBRQuality) == 0 &&
                 lame_set_VBR_min_bitrate_kbps(gfp, int(c.dwBitrate)) == 0 &&
                 lame_set_VBR_max_bitrate_kbps(gfp, int(c.dwMaxBitrate)) == 0;
        } else {
            ok = ok && lame_set_VBR(gfp, vbr_off) == 0 && lame_set_brate(gfp, int(c.dwBitrate)) == 0;
        }
        ok = ok && lame_set_quality(gfp, c.nPreset == LQP_HIGH_QUALITY ? 2 : 5) == 0 &&
             lame_set_copyright(gfp, c.bCopyright ? 1 : 0) == 0 && lame_set_original(gfp, c.bOriginal ? 1 : 0) == 0 &&
             lame_set_error_protection(gfp, c.bCRC ? 1 : 0) == 0 && lame_set_extension(gfp, c.bPrivate ? 1 : 0) == 0 &&
             lame_set_emphasis(gfp, int(c.dwEmphasis)) == 0 &&
             lame_set_bWriteVbrTag(gfp, c.bWriteVBRHeader ? 1 : 0) == 0;
        lame_set_write_id3tag_automatic(gfp, 0);
        if (!ok || lame_init_params(gfp) < 0) {
            lame_close(gfp);
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        }
        gfp_ = gfp;
        channels_ = channels;
        bufferSize_ = uint32_t(bound);
        samples = uint32_t(lame_get_framesize(gfp)) * uint32_t(channels);
        bufferSize = bufferSize_;
        handle = kStream;
        return BE_ERR_SUCCESSFUL;
    }

    BE_ERR beEncodeChunk(HBE_STREAM handle, uint32_t count, const int16_t* samples, uint8_t* output,
                         uint32_t& outputBytes) override {
        outputBytes = 0;
        if (handle != kStream || !gfp_) return BE_ERR_INVALID_HANDLE;
        if (count > 2500 || (count > 0 && (!samples || !output))) return BE_ERR_INVALID_FORMAT_PARAMETERS;
        const int n = channels_ == 2 ? lame_encode_buffer_interleaved(gfp_, const_cast<short*>(samples),
                                                                      int(count / 2), output, int(bufferSize_))
                                     : lame_encode_buffer(gfp_, samples, samples, int(count), output, int(bufferSize_));
        if (n < 0) return n == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_INVALID_FORMAT_PARAMETERS;
        outputBytes = uint32_t(n);
        return BE_ERR_SUCCESSFUL;
    }

    BE_ERR beDeinitStream(HBE_STREAM handle, uint8_t* output, uint32_t& outputBytes) override {
        outputBytes = 0;
        if (handle != kStream || !gfp_) return BE_ERR_INVALID_HANDLE;
        if (!output) return BE_ERR_INVALID_FORMAT_PARAMETERS;
        const int n = lame_encode_flush(gfp_, output, int(bufferSize_));
        if (n < 0) return BE_ERR_BUFFER_TOO_SMALL;
        outputBytes = uint32_t(n);
        return BE_ERR_SUCCESSFUL;
    }

    BE_ERR beCloseStream(HBE_STREAM handle) override {
        if (handle != kStream || !gfp_) return BE_ERR_INVALID_HANDLE;
        lame_close(gfp_);
        gfp_ = nullptr;
        return BE_ERR_SUCCESSFUL;
    }

private:
    lame_global_flags* gfp_ = nullptr;
    int channels_ = 0;
    uint32_t bufferSize_ = 0;
};

}  // namespace

std::unique_ptr<Mp3EncoderStream> MakeLameEncoder() { return std::make_unique<LameEncoder>(); }

}  // namespace notavox
