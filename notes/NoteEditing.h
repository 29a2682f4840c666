// The notes of a recording as the user corrects them: a list of notes with a
// selection, and the edits on it (move, change length, delete, add, velocity,
// quantise). Every edit is a NoteChange: the notes it took out and the notes
// it put in, matched by their ids, so that the same change undoes and redoes
// it by swapping the two. The window keeps one list; its note view only maps
// mouse and keys to the calls here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "transcription/TranscribedNote.h"

namespace notavox {

struct EditNote {
    uint32_t id = 0;
    int pitch = 60;
    double onset = 0;   // seconds
    double offset = 0;  // seconds, after onset
    int velocity = 100;
    bool selected = false;
};

// Takes out `removed`, puts in `added` (by id). Undone by the reverse.
struct NoteChange {
    std::string name;  // "Note verschieben", ...
    std::vector<EditNote> removed;
    std::vector<EditNote> added;
    bool select = true;  // the notes it puts in (or back) become the selection
    bool empty() const { return removed.empty() && added.empty(); }
    size_t bytes() const { return (removed.size() + added.size()) * sizeof(EditNote) + name.size(); }
};

// Times a note snaps to, ascending; empty: no snapping.
using SnapGrid = std::vector<double>;
// The point of `grid` nearest to `seconds` (itself when the grid is empty).
double SnapTime(const SnapGrid& grid, double seconds);
// Beat times with `divisions` equal points per beat (1: the beats); the
// steps after the last beat go on at its spacing up to `end` seconds.
SnapGrid GridFromBeats(const std::vector<double>& beats, int divisions, double end);

inline constexpr int kLowestEditKey = 21;    // A0
inline constexpr int kHighestEditKey = 108;  // C8
inline constexpr double kShortestEditNote = 0.01;  // seconds: a note never gets shorter

class NoteList {
public:
    // New notes (a new analysis): every id new, nothing selected.
    void reset(const std::vector<TranscribedNote>& notes);
    void clear() { reset({}); }
    // Changes with every reset; a change made before one no longer applies.
    uint64_t generation() const { return generation_; }

    // Ordered by onset, then pitch, then id.
    const std::vector<EditNote>& notes() const { return notes_; }
    std::vector<TranscribedNote> plain() const;
    bool empty() const { return notes_.empty(); }
    size_t size() const { return notes_.size(); }
    // Index of the note with that id, or -1.
    long indexOf(uint32_t id) const;
    // The last note (drawn on top) that covers `seconds` at `pitch`; -1 when none.
    long noteAt(double seconds, int pitch) const;

    // ---- selection (not an edit: it leaves no step) ----
    size_t selectedCount() const;
    void selectOnly(uint32_t id);
    void toggle(uint32_t id);
    void select(uint32_t id, bool on);
    void selectAll();
    void selectNone();
    // Every note that overlaps the time span and lies in the key range;
    // `add`: to the selection as it is.
    void selectIn(double from, double to, int lowKey, int highKey, bool add);

    // ---- edits: each returns the change it made (empty: nothing changed) ----
    // The selection moved by `seconds` and `keys`; with a grid, the first
    // selected onset moves to the grid point nearest where it would go and
    // the others keep their distance to it. Stops at the ends of the keyboard
    // and at time 0.
    NoteChange move(double seconds, int keys, const SnapGrid& grid = {});
    // What move() would shift the selection by: seconds, and keys.
    double moveShift(double seconds, const SnapGrid& grid = {}) const;
    int moveKeys(int keys) const;
    // The end of note `id` to `end` seconds (snapped); the other selected
    // notes change their length by the same amount.
    NoteChange resize(uint32_t id, double end, const SnapGrid& grid = {});
    // What resize() would change the lengths by, in seconds.
    double resizeShift(uint32_t id, double end, const SnapGrid& grid = {}) const;
    NoteChange removeSelected();
    // A new note, selected alone; its start snaps, its length is kept.
    NoteChange add(int pitch, double onset, double length, int velocity, const SnapGrid& grid = {});
    NoteChange setVelocity(int velocity);
    // Onsets and ends of the selection to the nearest grid points; a note
    // keeps at least one grid step.
    NoteChange quantise(const SnapGrid& grid);
    // Every note replaced by `notes` (decoded again), none selected.
    NoteChange replaceAll(const std::vector<TranscribedNote>& notes, const std::string& name);

    // Applies a change made earlier (`reverse`: undoes it). The notes it
    // brings back are selected.
    void apply(const NoteChange& change, bool reverse);

private:
    NoteChange replaceSelected(const std::string& name, const std::vector<EditNote>& replacement);
    void sort();

    std::vector<EditNote> notes_;
    uint32_t nextId_ = 1;
    uint64_t generation_ = 0;
};

}  // namespace notavox
