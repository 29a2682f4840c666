// Undo and redo for the commands that change the recording.
//
// Before a command runs, the window tells the history what the command is
// about to change (a ChangePlan): the history keeps a copy of just those
// bytes, with the format and the selection. After the command the step is
// recorded. A step is a list of splices plus the document's small fields;
// applying it swaps them with what the recording holds now, so the same step
// taken once undoes the command and taken again redoes it.
//
// Memory is bounded: the history keeps at most `limit` bytes of copies (undo
// and redo together) and drops its oldest steps to stay below it. A command
// whose copy would not fit (or cannot be allocated) still runs; the history is
// then emptied, since its older steps no longer fit the recording.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioDocument.h"

namespace notavox {

// What a command may change, in bytes of the recording before it runs.
struct ChangePlan {
    enum Kind {
        Range,       // bytes [from, to) change in place, the length stays
        Removal,     // bytes [from, to) are taken out
        KeepOnly,    // only bytes [from, to) remain
        Whole,       // anything may change (new block, new format)
        FormatOnly,  // only the sample rate, channels, width or selection
    };
    Kind kind = Whole;
    int64_t from = 0;
    int64_t to = 0;
};

// The plans of the program's commands, from the recording as it is before.
ChangePlan PlanForEffect(const AudioDocument& doc);  // every effect that works in place
ChangePlan PlanForCut(const AudioDocument& doc);     // "Die Auswahl wegschneiden"
ChangePlan PlanForCrop(const AudioDocument& doc);    // "Zur Auswahl zurechtschneiden"
inline ChangePlan PlanForWhole() { return ChangePlan{ChangePlan::Whole, 0, 0}; }
inline ChangePlan PlanForFormatOnly() { return ChangePlan{ChangePlan::FormatOnly, 0, 0}; }

// A step that changes something beside the recording's bytes (the notes
// found in it): the history only keeps it in its place among the others.
class UndoAction {
public:
    virtual ~UndoAction() = default;
    virtual void undo() = 0;
    virtual void redo() = 0;
    // Bytes it holds, counted against the history's limit.
    virtual size_t size() const = 0;
};

// A quarter of the machine's memory.
size_t DefaultUndoLimit();

class UndoHistory {
public:
    explicit UndoHistory(size_t limitBytes = DefaultUndoLimit());

    void setLimit(size_t limitBytes);
    size_t limit() const { return limit_; }
    // Bytes held by the copies of every undo and redo step.
    size_t memoryUsed() const { return used_; }

    // Forgets every step (a new file was opened).
    void clear();

    // Before a command: keeps what `plan` says may change.
    void begin(const std::string& name, const AudioDocument& doc, const ChangePlan& plan);
    // After the command: records the step. A command that changed nothing
    // leaves no step. Returns true when a step was recorded.
    bool commit(const AudioDocument& doc);
    // Records a step that was taken already and does not touch the
    // recording; undo and redo call the action and leave the recording alone.
    void record(const std::string& name, std::unique_ptr<UndoAction> action);

    bool canUndo() const { return !undo_.empty(); }
    bool canRedo() const { return !redo_.empty(); }
    const std::string& undoName() const;  // empty when there is nothing
    const std::string& redoName() const;
    size_t undoCount() const { return undo_.size(); }
    // Names the recording's state as far as the history knows it: equal
    // values mean the same recording (undoing back to a state gives its value
    // again); a change the history could not record, and clear(), give a new
    // value.
    uint64_t state() const { return undo_.empty() ? base_ : undo_.back().id; }

    // Undo or redo one step. False when there is none or the memory for the
    // restored recording cannot be had (then nothing changes).
    bool undo(AudioDocument& doc);
    bool redo(AudioDocument& doc);

private:
    struct Bytes {
        SampleBlock data;
        size_t size = 0;
    };
    // Replace bytes [at, at + length) of the recording by `bytes`.
    struct Splice {
        int64_t at = 0;
        int64_t length = 0;
        Bytes bytes;
    };
    struct Fields {
        int32_t byteCount = 0;
        int32_t selectionStart = 0;
        int32_t selectionEnd = 0;
        int32_t sampleRate = 0;
        bool stereo = false;
        bool sixteenBit = false;
        bool operator==(const Fields&) const = default;
    };
    struct Step {
        std::string name;
        uint64_t id = 0;  // the state after the command
        std::vector<Splice> splices;  // in ascending, non-overlapping order
        Fields fields;
        std::shared_ptr<UndoAction> action;  // set: a step beside the recording
        size_t size() const;
    };

    static Fields fieldsOf(const AudioDocument& doc);
    static bool copyBytes(const AudioDocument& doc, int64_t from, int64_t to, Bytes& out);
    static bool apply(Step& step, AudioDocument& doc);
    // Applies the last step of `from` and moves it to the end of `to`.
    bool swapLast(std::deque<Step>& from, std::deque<Step>& to, AudioDocument& doc, bool undoing);
    void trim();
    void dropOldestUndo();

    size_t limit_;
    size_t used_ = 0;
    std::deque<Step> undo_;  // oldest first
    std::deque<Step> redo_;  // the next redo last
    uint64_t base_ = 0;      // the state before the oldest undo step
    uint64_t lastId_ = 0;

    // The command in progress.
    bool pending_ = false;
    bool untracked_ = false;  // its copy did not fit
    ChangePlan plan_;
    Fields before_;
    std::string pendingName_;
    std::vector<Bytes> saved_;
};

}  // namespace notavox
