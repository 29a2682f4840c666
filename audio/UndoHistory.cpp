#include "audio/UndoHistory.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "audio/EditOps.h"
#include "audio/Effects.h"

namespace notavox {

ChangePlan PlanForEffect(const AudioDocument& doc) {
    const FrameRange r = doc.selectedFrames();
    const int64_t f = doc.bytesPerFrame();
    // The effects touch the frames lo..hi inclusive, never past the end.
    const int64_t last = std::min<int64_t>(r.hi, int64_t(doc.frameCount()) - 1);
    if (last < r.lo) return ChangePlan{ChangePlan::Range, 0, 0};
    return ChangePlan{ChangePlan::Range, r.lo * f, (last + 1) * f};
}

ChangePlan PlanForCut(const AudioDocument& doc) {
    if (!doc.hasSelection()) return ChangePlan{ChangePlan::Removal, 0, 0};
    const FrameRange r = doc.selectedFrames();
    const int64_t f = doc.bytesPerFrame();
    return ChangePlan{ChangePlan::Removal, r.lo * f, r.hi * f};
}

ChangePlan PlanForCrop(const AudioDocument& doc) {
    if (!doc.hasSelection()) return ChangePlan{ChangePlan::KeepOnly, 0, doc.byteCount};
    const FrameRange r = doc.selectedFrames();
    const int64_t f = doc.bytesPerFrame();
    return ChangePlan{ChangePlan::KeepOnly, r.lo * f, r.hi * f};
}

size_t DefaultUndoLimit() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return size_t(256) << 20;
    return size_t(pages) / 4 * size_t(pageSize);
}

// ---------------------------------------------------------------- steps

size_t UndoHistory::Step::size() const {
    size_t n = action ? action->size() : 0;
    for (const Splice& s : splices) n += s.bytes.size;
    return n;
}

UndoHistory::Fields UndoHistory::fieldsOf(const AudioDocument& doc) {
    return Fields{doc.byteCount, doc.selectionStart, doc.selectionEnd, doc.sampleRate, doc.stereo, doc.sixteenBit};
}

bool UndoHistory::copyBytes(const AudioDocument& doc, int64_t from, int64_t to, Bytes& out) {
    out.size = size_t(std::max<int64_t>(to - from, 0));
    if (out.size == 0) return true;
    out.data = allocateBlock(out.size);
    if (!out.data) return false;
    std::memcpy(out.data.get(), doc.sampleData.get() + from, out.size);
    return true;
}

bool UndoHistory::apply(Step& step, AudioDocument& doc) {
    const int64_t n = doc.byteCount;
    bool sameSize = true;
    int64_t newSize = n;
    for (const Splice& s : step.splices) {
        if (int64_t(s.bytes.size) != s.length) sameSize = false;
        newSize += int64_t(s.bytes.size) - s.length;
    }
    if (newSize < 0 || newSize > std::numeric_limits<int32_t>::max()) return false;

    if (sameSize) {
        // In place: the step's copy and the recording trade their bytes.
        for (Splice& s : step.splices)
            if (s.length > 0) std::swap_ranges(doc.sampleData.get() + s.at, doc.sampleData.get() + s.at + s.length,
                                               s.bytes.data.get());
    } else {
        // Every allocation first, so that a failure leaves everything as it was.
        SampleBlock block = allocateBlock(size_t(newSize));
        if (newSize > 0 && !block) return false;
        std::vector<Bytes> taken(step.splices.size());
        for (size_t k = 0; k < step.splices.size(); ++k) {
            const Splice& s = step.splices[k];
            if (!copyBytes(doc, s.at, s.at + s.length, taken[k])) return false;
        }
        const uint8_t* src = doc.sampleData.get();
        uint8_t* dst = block.get();
        int64_t pos = 0;
        int64_t out = 0;
        for (size_t k = 0; k < step.splices.size(); ++k) {
            Splice& s = step.splices[k];
            const int64_t keep = s.at - pos;
            if (keep > 0) std::memcpy(dst + out, src + pos, size_t(keep));
            out += keep;
            if (s.bytes.size > 0) std::memcpy(dst + out, s.bytes.data.get(), s.bytes.size);
            const int64_t inserted = int64_t(s.bytes.size);
            pos = s.at + s.length;
            s.at = out;
            s.length = inserted;
            s.bytes = std::move(taken[k]);
            out += inserted;
        }
        if (n > pos) std::memcpy(dst + out, src + pos, size_t(n - pos));
        doc.sampleData = std::move(block);
    }

    const Fields now = fieldsOf(doc);
    doc.byteCount = int32_t(newSize);
    doc.selectionStart = step.fields.selectionStart;
    doc.selectionEnd = step.fields.selectionEnd;
    doc.sampleRate = step.fields.sampleRate;
    doc.stereo = step.fields.stereo;
    doc.sixteenBit = step.fields.sixteenBit;
    step.fields = now;
    doc.touch();
    return true;
}

// ---------------------------------------------------------------- history

UndoHistory::UndoHistory(size_t limitBytes) : limit_(limitBytes) {}

void UndoHistory::setLimit(size_t limitBytes) {
    limit_ = limitBytes;
    trim();
}

void UndoHistory::clear() {
    undo_.clear();
    redo_.clear();
    used_ = 0;
    base_ = ++lastId_;
}

void UndoHistory::dropOldestUndo() {
    used_ -= undo_.front().size();
    base_ = undo_.front().id;
    undo_.pop_front();
}

const std::string& UndoHistory::undoName() const {
    static const std::string none;
    return undo_.empty() ? none : undo_.back().name;
}

const std::string& UndoHistory::redoName() const {
    static const std::string none;
    return redo_.empty() ? none : redo_.back().name;
}

void UndoHistory::begin(const std::string& name, const AudioDocument& doc, const ChangePlan& plan) {
    pending_ = true;
    untracked_ = false;
    pendingName_ = name;
    before_ = fieldsOf(doc);
    saved_.clear();
    const int64_t n = doc.sampleData ? doc.byteCount : 0;
    plan_ = plan;
    plan_.from = std::clamp<int64_t>(plan.from, 0, n);
    plan_.to = std::clamp<int64_t>(plan.to, plan_.from, n);

    std::vector<std::pair<int64_t, int64_t>> ranges;
    switch (plan_.kind) {
        case ChangePlan::Range:
        case ChangePlan::Removal: ranges = {{plan_.from, plan_.to}}; break;
        case ChangePlan::KeepOnly: ranges = {{0, plan_.from}, {plan_.to, n}}; break;
        case ChangePlan::Whole: ranges = {{0, n}}; break;
        case ChangePlan::FormatOnly: break;
    }
    uint64_t total = 0;
    for (const auto& r : ranges) total += uint64_t(r.second - r.first);
    if (total > limit_) {
        untracked_ = true;
        return;
    }
    // Older steps give way to the new one before its copy is made.
    while (used_ + total > limit_ && (!undo_.empty() || !redo_.empty())) {
        if (!redo_.empty()) {
            used_ -= redo_.front().size();
            redo_.pop_front();
        } else {
            dropOldestUndo();
        }
    }
    saved_.resize(ranges.size());
    for (size_t k = 0; k < ranges.size(); ++k) {
        if (!copyBytes(doc, ranges[k].first, ranges[k].second, saved_[k])) {
            untracked_ = true;
            saved_.clear();
            return;
        }
    }
}

bool UndoHistory::commit(const AudioDocument& doc) {
    if (!pending_) return false;
    pending_ = false;
    const Fields after = fieldsOf(doc);
    const Fields& b = before_;
    const bool fieldsSame = after == b;
    std::vector<Bytes> saved = std::move(saved_);
    saved_.clear();
    if (untracked_) {
        // The recording may have changed without a copy to go back to: the
        // older steps no longer fit it.
        if (!fieldsSame || plan_.kind != ChangePlan::FormatOnly) clear();
        return false;
    }
    const auto bytesSame = [&](const Bytes& copy, int64_t at) {
        return copy.size == 0 || std::memcmp(copy.data.get(), doc.sampleData.get() + at, copy.size) == 0;
    };

    Step step;
    step.name = pendingName_;
    step.fields = before_;
    bool consistent = true;
    switch (plan_.kind) {
        case ChangePlan::Range:
            if (after.byteCount != b.byteCount) {
                consistent = false;
                break;
            }
            if (fieldsSame && bytesSame(saved[0], plan_.from)) return false;  // nothing changed
            step.splices.push_back(Splice{plan_.from, plan_.to - plan_.from, std::move(saved[0])});
            break;
        case ChangePlan::Removal:
            if (fieldsSame) return false;
            if (int64_t(after.byteCount) != int64_t(b.byteCount) - (plan_.to - plan_.from)) {
                consistent = false;
                break;
            }
            step.splices.push_back(Splice{plan_.from, 0, std::move(saved[0])});
            break;
        case ChangePlan::KeepOnly:
            if (fieldsSame) return false;
            if (int64_t(after.byteCount) != plan_.to - plan_.from) {
                consistent = false;
                break;
            }
            step.splices.push_back(Splice{0, 0, std::move(saved[0])});
            step.splices.push_back(Splice{after.byteCount, 0, std::move(saved[1])});
            break;
        case ChangePlan::Whole:
            if (fieldsSame && bytesSame(saved[0], 0)) return false;
            step.splices.push_back(Splice{0, after.byteCount, std::move(saved[0])});
            break;
        case ChangePlan::FormatOnly:
            if (after.byteCount != b.byteCount) {
                consistent = false;
                break;
            }
            if (fieldsSame) return false;
            break;
    }
    if (!consistent) {
        clear();
        return false;
    }
    std::erase_if(step.splices, [](const Splice& s) { return s.length == 0 && s.bytes.size == 0; });
    for (const Step& r : redo_) used_ -= r.size();
    redo_.clear();
    used_ += step.size();
    step.id = ++lastId_;
    undo_.push_back(std::move(step));
    trim();
    return true;
}

void UndoHistory::record(const std::string& name, std::unique_ptr<UndoAction> action) {
    if (!action) return;
    Step step;
    step.name = name;
    step.action = std::move(action);
    for (const Step& r : redo_) used_ -= r.size();
    redo_.clear();
    used_ += step.size();
    undo_.push_back(std::move(step));
    trim();
}

bool UndoHistory::undo(AudioDocument& doc) { return swapLast(undo_, redo_, doc, true); }

bool UndoHistory::redo(AudioDocument& doc) { return swapLast(redo_, undo_, doc, false); }

bool UndoHistory::swapLast(std::deque<Step>& from, std::deque<Step>& to, AudioDocument& doc, bool undoing) {
    if (from.empty()) return false;
    Step& step = from.back();
    const size_t before = step.size();
    if (step.action) {
        if (undoing) step.action->undo();
        else step.action->redo();
    } else if (!apply(step, doc)) {
        return false;
    }
    used_ = used_ - before + step.size();
    to.push_back(std::move(step));
    from.pop_back();
    trim();
    return true;
}

void UndoHistory::trim() {
    while (used_ > limit_ && !undo_.empty()) dropOldestUndo();
    while (used_ > limit_ && !redo_.empty()) {
        used_ -= redo_.front().size();
        redo_.pop_front();
    }
}

}  // namespace notavox
