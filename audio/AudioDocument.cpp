#include "audio/AudioDocument.h"

namespace notavox {

SampleBlock allocateBlock(size_t size) {
    if (size == 0) return SampleBlock();
    return SampleBlock(static_cast<uint8_t*>(std::malloc(size)));
}

void AudioDocument::replace(SampleBlock block, int32_t newByteCount, int32_t newSampleRate,
                            bool newStereo, bool newSixteenBit) {
    sampleData.reset();
    sampleData = std::move(block);
    byteCount = sampleData ? newByteCount : 0;
    sixteenBit = newSixteenBit;
    stereo = newStereo;
    sampleRate = newSampleRate;
    selectionStart = 0;
    selectionEnd = 0;
}

void AudioDocument::replace(SampleBlock block, int32_t newByteCount) {
    replace(std::move(block), newByteCount, sampleRate, stereo, sixteenBit);
}

}  // namespace notavox
