#include "codecs/Mp3Frame.h"

namespace notavox {

namespace {

// kbit/s of Layers I and II, indices 1 to 14 (Layer III is in the header).
constexpr int32_t kMpeg1[2][14] = {
    {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // Layer I
    {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // Layer II
};
constexpr int32_t kMpeg2LayerI[14] = {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256};

}  // namespace

Mp3FrameHeader ParseMp3FrameHeader(const uint8_t h[4]) {
    Mp3FrameHeader f;
    f.version = (h[1] >> 3) & 3;
    f.layer = (h[1] >> 1) & 3;
    f.protection = (h[1] & 1) == 0;
    f.bitrateIndex = h[2] >> 4;
    f.sampleRateIndex = (h[2] >> 2) & 3;
    f.padding = (h[2] >> 1) & 1;
    f.privateBit = h[2] & 1;
    f.channelMode = h[3] >> 6;
    f.modeExtension = (h[3] >> 4) & 3;
    f.copyright = (h[3] >> 3) & 1;
    f.original = (h[3] >> 2) & 1;
    f.emphasis = h[3] & 3;
    return f;
}

bool IsValidMp3FrameHeader(const uint8_t h[4]) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
    const Mp3FrameHeader f = ParseMp3FrameHeader(h);
    return f.layer != 0 && f.bitrateIndex < 15 && f.sampleRateIndex < 3;
}

int32_t Mp3SampleRate(int version, int sampleRateIndex) {
    static constexpr int32_t kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    if (sampleRateIndex < 0 || sampleRateIndex > 2) return 0;
    switch (version) {
        case 2: return kRates[1][sampleRateIndex];
        case 0: return kRates[2][sampleRateIndex];
        default: return kRates[0][sampleRateIndex];  // MPEG-1 and the reserved value
    }
}

int32_t Mp3BitRate(int version, int layer, int bitrateIndex) {
    if (layer < 1 || layer > 3) return 8;
    const int index = (bitrateIndex == 0 || bitrateIndex >= 15) ? 1 : bitrateIndex;
    const bool mpeg1 = version == 3 || version == 1;
    if (layer == 1) return (mpeg1 ? kMpeg1LayerIIIBitRates : kMpeg2LayerIIIBitRates)[index - 1];
    if (mpeg1) return kMpeg1[3 - layer][index - 1];  // layer field 3 is Layer I
    return layer == 3 ? kMpeg2LayerI[index - 1] : kMpeg2LayerIIIBitRates[index - 1];  // MPEG-2 Layer II = III
}

int32_t Mp3FrameLength(const uint8_t h[4]) {
    if (!IsValidMp3FrameHeader(h)) return 0;
    const Mp3FrameHeader f = ParseMp3FrameHeader(h);
    if (f.version == 1 || f.bitrateIndex == 0) return 0;
    const int32_t bitRate = Mp3BitRate(f.version, f.layer, f.bitrateIndex) * 1000;
    const int32_t rate = Mp3SampleRate(f.version, f.sampleRateIndex);
    if (rate <= 0) return 0;
    const int32_t pad = f.padding ? 1 : 0;
    if (f.layer == 3) return (12 * bitRate / rate + pad) * 4;  // Layer I
    const bool mpeg1 = f.version == 3;
    const int32_t perBit = (f.layer == 1 && !mpeg1) ? 72 : 144;  // Layer III of MPEG-2 and 2.5: half the samples
    return perBit * bitRate / rate + pad;
}

}  // namespace notavox
