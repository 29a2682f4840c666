#include "audio/EditOps.h"

#include <algorithm>
#include <cstring>

namespace notavox {

bool CropToSelection(AudioDocument& doc) {
    if (!doc.hasSelection()) return false;
    const FrameRange r = doc.selectedFrames();
    const int64_t f = doc.bytesPerFrame();
    const int64_t size = (r.hi - r.lo) * f;
    SampleBlock block = allocateBlock(size_t(size));
    if (size > 0 && !block) return false;
    if (size > 0) std::memcpy(block.get(), doc.sampleData.get() + r.lo * f, size_t(size));
    doc.replace(std::move(block), int32_t(size));
    return true;
}

bool CutSelection(AudioDocument& doc) {
    if (!doc.hasSelection()) return false;
    const FrameRange r = doc.selectedFrames();
    const int64_t f = doc.bytesPerFrame();
    const int64_t head = r.lo * f;
    const int64_t tailStart = r.hi * f;
    const int64_t tail = doc.byteCount - tailStart;
    const int64_t size = head + tail;
    SampleBlock block = allocateBlock(size_t(size));
    if (size > 0 && !block) return false;
    if (head > 0) std::memcpy(block.get(), doc.sampleData.get(), size_t(head));
    if (tail > 0) std::memcpy(block.get() + head, doc.sampleData.get() + tailStart, size_t(tail));
    doc.replace(std::move(block), int32_t(size));
    return true;
}

void SelectNothing(AudioDocument& doc) {
    doc.selectionStart = 0;
    doc.selectionEnd = 0;
}

}  // namespace notavox
