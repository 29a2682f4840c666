#include "notes/NoteEditing.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace notavox {

double SnapTime(const SnapGrid& grid, double seconds) {
    if (grid.empty()) return seconds;
    const auto it = std::lower_bound(grid.begin(), grid.end(), seconds);
    if (it == grid.begin()) return *it;
    if (it == grid.end()) return grid.back();
    return (*it - seconds) < (seconds - *(it - 1)) ? *it : *(it - 1);
}

SnapGrid GridFromBeats(const std::vector<double>& beats, int divisions, double end) {
    SnapGrid grid;
    if (beats.empty() || divisions < 1) return grid;
    for (size_t i = 0; i + 1 < beats.size(); ++i) {
        const double step = (beats[i + 1] - beats[i]) / divisions;
        for (int d = 0; d < divisions; ++d) grid.push_back(beats[i] + step * d);
    }
    grid.push_back(beats.back());
    if (beats.size() > 1) {
        const double step = (beats.back() - beats[beats.size() - 2]) / divisions;
        if (step > 0)
            for (double t = beats.back() + step; t <= end + step; t += step) grid.push_back(t);
    }
    return grid;
}

void NoteList::sort() {
    std::sort(notes_.begin(), notes_.end(), [](const EditNote& a, const EditNote& b) {
        if (a.onset != b.onset) return a.onset < b.onset;
        if (a.pitch != b.pitch) return a.pitch < b.pitch;
        return a.id < b.id;
    });
}

void NoteList::reset(const std::vector<TranscribedNote>& notes) {
    notes_.clear();
    notes_.reserve(notes.size());
    for (const TranscribedNote& n : notes) notes_.push_back({nextId_++, n.pitch, n.onset, n.offset, n.velocity, false});
    sort();
    ++generation_;
}

std::vector<TranscribedNote> NoteList::plain() const {
    std::vector<TranscribedNote> out;
    out.reserve(notes_.size());
    for (const EditNote& n : notes_) out.push_back({n.pitch, n.onset, n.offset, n.velocity});
    return out;
}

long NoteList::indexOf(uint32_t id) const {
    for (size_t i = 0; i < notes_.size(); ++i)
        if (notes_[i].id == id) return long(i);
    return -1;
}

long NoteList::noteAt(double seconds, int pitch) const {
    // Ordered by onset: only notes that start at or before the time matter.
    const auto end = std::upper_bound(notes_.begin(), notes_.end(), seconds,
                                      [](double t, const EditNote& n) { return t < n.onset; });
    for (auto it = end; it != notes_.begin();) {
        --it;
        if (it->pitch == pitch && it->offset > seconds) return long(it - notes_.begin());
    }
    return -1;
}

size_t NoteList::selectedCount() const {
    return size_t(std::count_if(notes_.begin(), notes_.end(), [](const EditNote& n) { return n.selected; }));
}

void NoteList::select(uint32_t id, bool on) {
    const long i = indexOf(id);
    if (i >= 0) notes_[size_t(i)].selected = on;
}

void NoteList::selectOnly(uint32_t id) {
    for (EditNote& n : notes_) n.selected = n.id == id;
}

void NoteList::toggle(uint32_t id) {
    const long i = indexOf(id);
    if (i >= 0) notes_[size_t(i)].selected = !notes_[size_t(i)].selected;
}

void NoteList::selectAll() {
    for (EditNote& n : notes_) n.selected = true;
}

void NoteList::selectNone() {
    for (EditNote& n : notes_) n.selected = false;
}

void NoteList::selectIn(double from, double to, int lowKey, int highKey, bool add) {
    if (from > to) std::swap(from, to);
    if (lowKey > highKey) std::swap(lowKey, highKey);
    for (EditNote& n : notes_) {
        const bool inside = n.pitch >= lowKey && n.pitch <= highKey && n.onset <= to && n.offset >= from;
        n.selected = inside || (add && n.selected);
    }
}

NoteChange NoteList::replaceSelected(const std::string& name, const std::vector<EditNote>& replacement) {
    NoteChange change;
    change.name = name;
    for (const EditNote& n : notes_)
        if (n.selected) change.removed.push_back(n);
    change.added = replacement;
    // Notes that stay as they were are no part of the change.
    bool same = change.removed.size() == change.added.size();
    for (size_t i = 0; same && i < change.removed.size(); ++i) {
        const EditNote& a = change.removed[i];
        const EditNote& b = change.added[i];
        same = a.id == b.id && a.pitch == b.pitch && a.onset == b.onset && a.offset == b.offset &&
               a.velocity == b.velocity;
    }
    if (same) return NoteChange{name, {}, {}};
    apply(change, false);
    return change;
}

double NoteList::moveShift(double seconds, const SnapGrid& grid) const {
    double first = std::numeric_limits<double>::infinity();
    for (const EditNote& n : notes_)
        if (n.selected) first = std::min(first, n.onset);
    if (!std::isfinite(first)) return 0;
    const double target = std::max(0.0, SnapTime(grid, first + seconds));
    return target - first;
}

int NoteList::moveKeys(int keys) const {
    int lo = kHighestEditKey, hi = kLowestEditKey;
    bool any = false;
    for (const EditNote& n : notes_)
        if (n.selected) {
            lo = std::min(lo, n.pitch);
            hi = std::max(hi, n.pitch);
            any = true;
        }
    if (!any) return 0;
    return std::clamp(keys, kLowestEditKey - lo, kHighestEditKey - hi);
}

NoteChange NoteList::move(double seconds, int keys, const SnapGrid& grid) {
    const double dt = moveShift(seconds, grid);
    const int dk = moveKeys(keys);
    std::vector<EditNote> moved;
    for (const EditNote& n : notes_)
        if (n.selected) {
            EditNote m = n;
            m.onset += dt;
            m.offset += dt;
            m.pitch += dk;
            moved.push_back(m);
        }
    return replaceSelected("Note verschieben", moved);
}

double NoteList::resizeShift(uint32_t id, double end, const SnapGrid& grid) const {
    const long i = indexOf(id);
    if (i < 0) return 0;
    const EditNote& n = notes_[size_t(i)];
    double target = SnapTime(grid, end);
    if (target < n.onset + kShortestEditNote) target = std::max(end, n.onset + kShortestEditNote);
    return target - n.offset;
}

NoteChange NoteList::resize(uint32_t id, double end, const SnapGrid& grid) {
    const long i = indexOf(id);
    if (i < 0) return {};
    if (!notes_[size_t(i)].selected) selectOnly(id);
    const double d = resizeShift(id, end, grid);
    std::vector<EditNote> changed;
    for (const EditNote& n : notes_)
        if (n.selected) {
            EditNote m = n;
            m.offset = std::max(n.onset + kShortestEditNote, n.offset + d);
            changed.push_back(m);
        }
    return replaceSelected("Notenlänge ändern", changed);
}

NoteChange NoteList::removeSelected() { return replaceSelected("Noten löschen", {}); }

NoteChange NoteList::add(int pitch, double onset, double length, int velocity, const SnapGrid& grid) {
    EditNote n;
    n.id = nextId_++;
    n.pitch = std::clamp(pitch, kLowestEditKey, kHighestEditKey);
    n.onset = std::max(0.0, SnapTime(grid, onset));
    n.offset = n.onset + std::max(length, kShortestEditNote);
    n.velocity = std::clamp(velocity, 1, 127);
    n.selected = true;
    selectNone();
    NoteChange change{"Note hinzufügen", {}, {n}};
    apply(change, false);
    return change;
}

NoteChange NoteList::setVelocity(int velocity) {
    const int v = std::clamp(velocity, 1, 127);
    std::vector<EditNote> changed;
    for (const EditNote& n : notes_)
        if (n.selected) {
            EditNote m = n;
            m.velocity = v;
            changed.push_back(m);
        }
    return replaceSelected("Anschlag ändern", changed);
}

NoteChange NoteList::quantise(const SnapGrid& grid) {
    if (grid.empty()) return {};
    std::vector<EditNote> changed;
    for (const EditNote& n : notes_)
        if (n.selected) {
            EditNote m = n;
            m.onset = SnapTime(grid, n.onset);
            m.offset = SnapTime(grid, n.offset);
            if (m.offset <= m.onset) {
                // At least one grid step.
                const auto next = std::upper_bound(grid.begin(), grid.end(), m.onset);
                m.offset = next != grid.end() ? *next : m.onset + std::max(n.offset - n.onset, kShortestEditNote);
            }
            changed.push_back(m);
        }
    return replaceSelected("Noten quantisieren", changed);
}

NoteChange NoteList::replaceAll(const std::vector<TranscribedNote>& notes, const std::string& name) {
    NoteChange change;
    change.name = name;
    change.select = false;
    change.removed = notes_;
    for (EditNote& n : change.removed) n.selected = false;
    change.added.reserve(notes.size());
    for (const TranscribedNote& n : notes) change.added.push_back({nextId_++, n.pitch, n.onset, n.offset, n.velocity, false});
    notes_ = change.added;
    sort();
    return change;
}

void NoteList::apply(const NoteChange& change, bool reverse) {
    const std::vector<EditNote>& out = reverse ? change.added : change.removed;
    const std::vector<EditNote>& in = reverse ? change.removed : change.added;
    if (!in.empty() && change.select) selectNone();
    std::vector<uint32_t> gone;
    gone.reserve(out.size());
    for (const EditNote& n : out) gone.push_back(n.id);
    std::sort(gone.begin(), gone.end());
    std::erase_if(notes_, [&](const EditNote& n) { return std::binary_search(gone.begin(), gone.end(), n.id); });
    for (EditNote n : in) {
        n.selected = change.select;
        notes_.push_back(n);
    }
    sort();
}

}  // namespace notavox
