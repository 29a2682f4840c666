// The one recording the program holds: a block of PCM bytes, its sample
// format and the user's selection. Plain data; the main window owns one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace notavox {

struct FreeDeleter {
    void operator()(uint8_t* p) const noexcept { std::free(p); }
};

// A raw byte block from the general heap. An empty block is no block at all.
using SampleBlock = std::unique_ptr<uint8_t[], FreeDeleter>;

// Allocates `size` uninitialised bytes; returns an empty block when size is 0
// or the memory is not there. Blocks of kPrefaultedBlockSize bytes and more
// have all their pages mapped before they are returned, so that filling them
// costs no page faults. The block is a plain heap block either way: free()
// and realloc() take it.
SampleBlock allocateBlock(size_t size);
inline constexpr size_t kPrefaultedBlockSize = size_t(4) << 20;

// Audio that arrives in pieces (a CD track, a decoded MP3 file): a heap block
// that grows by doubling and becomes the recording's block at the end.
class PcmCollector {
public:
    // Makes room for `bytes` in all up front when the memory is there; the
    // block grows on demand either way.
    void reserve(size_t bytes) { grow(bytes); }
    // False when the recording would grow beyond what it can hold (2147483647
    // bytes) or the memory is not there; nothing is appended then.
    bool append(const uint8_t* data, size_t n);
    size_t size() const { return size_; }
    // The block, trimmed to what was appended; the collector is empty again.
    SampleBlock take();

private:
    bool grow(size_t capacity);
    SampleBlock block_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Frames [lo, hi) of a recording.
struct FrameRange {
    int64_t lo = 0;
    int64_t hi = 0;
};

struct AudioDocument {
    SampleBlock sampleData;
    int32_t byteCount = 0;
    int32_t selectionEnd = 0;
    int32_t selectionStart = 0;
    int32_t sampleRate = 0;
    bool stereo = false;
    bool sixteenBit = false;
    // Counts the changes of the samples or the format: every replace(), every
    // undo or redo and every command that changes them in place calls touch().
    // Whatever is derived from the recording (the view's peak summary, the
    // notes found in it) belongs to one revision and is rebuilt when it moves.
    uint64_t revision = 0;
    void touch() { ++revision; }

    int32_t bytesPerSample() const { return sixteenBit ? 2 : 1; }
    int32_t channelCount() const { return stereo ? 2 : 1; }
    int32_t bytesPerFrame() const { return bytesPerSample() * channelCount(); }
    int32_t sampleCount() const { return byteCount / bytesPerSample(); }
    int32_t frameCount() const { return sampleCount() / channelCount(); }

    bool empty() const { return byteCount == 0; }
    int32_t selectionLow() const { return selectionStart < selectionEnd ? selectionStart : selectionEnd; }
    int32_t selectionHigh() const { return selectionStart < selectionEnd ? selectionEnd : selectionStart; }
    bool hasSelection() const { return selectionStart != selectionEnd; }
    // The frames every command works on: the whole recording when nothing is
    // selected; else from the smaller to the larger end, each limited to
    // 0..sampleCount, in stereo halved (an end on a right value falls back to
    // its frame). The frame at hi is left out by crop, cut and playback and
    // included by the effects that say so, when it lies inside the recording.
    FrameRange selectedFrames() const;

    // Replaces the recording in the program's fixed order: the old block
    // goes, the new block and its length come in, then the format, then both
    // selection ends are set to 0. The view refresh is the caller's job.
    void replace(SampleBlock block, int32_t newByteCount, int32_t newSampleRate, bool newStereo,
                 bool newSixteenBit);
    // The same for operations that keep the format.
    void replace(SampleBlock block, int32_t newByteCount);
};

// Level conversions between the two sample widths: 8-bit values centre on 128.
inline int16_t level8To16(uint8_t v) { return static_cast<int16_t>((v - 128) * 256); }
inline uint8_t level16To8(int16_t s) { return static_cast<uint8_t>((s >> 8) + 128); }

}  // namespace notavox
