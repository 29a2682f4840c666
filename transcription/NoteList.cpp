#include "transcription/NoteList.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace notavox {

NoteEvent CopyNoteEvent(const NoteEvent& e) {
    NoteEvent c = e;
    if (e.dataLength > 4) {
        c.data.block = static_cast<uint8_t*>(std::malloc(e.dataLength));
        if (c.data.block && e.data.block) {
            std::memcpy(c.data.block, e.data.block, e.dataLength);
        } else if (c.data.block) {
            std::memset(c.data.block, 0, e.dataLength);
        }
    }
    return c;
}

void FreeNoteEventData(NoteEvent& e) {
    if (e.dataLength > 4) {
        std::free(e.data.block);
        e.data.block = nullptr;
    }
}

void FreeListData(TDynaArray& list) {
    for (int32_t i = 0; i < list.count(); ++i) FreeNoteEventData(*static_cast<NoteEvent*>(list.element(i)));
}

NoteEvent MakeNoteEvent(uint8_t kind, int pitch, int velocity, uint32_t time) {
    NoteEvent e;
    std::memset(&e, 0, sizeof e);
    e.kind = kind;
    e.channel = uint8_t(pitch % 8);
    e.dataLength = 2;
    e.data.bytes[0] = uint8_t(pitch);
    e.data.bytes[1] = uint8_t(velocity);
    e.time = time;
    return e;
}

namespace {

NoteEvent* appendEvent(TDynaArray& list, const NoteEvent& e) {
    void* p = list.Append();
    if (!p) return nullptr;
    std::memcpy(p, &e, sizeof e);
    return static_cast<NoteEvent*>(p);
}

NoteEvent makeEvent(uint8_t kind, uint8_t channel) {
    NoteEvent e;
    std::memset(&e, 0, sizeof e);
    e.kind = kind;
    e.channel = channel;
    return e;
}

NoteEvent endOfTrack() {
    NoteEvent e = makeEvent(kMetaEvent, 15);
    e.metaType = kEndOfTrack;
    return e;
}

}  // namespace

Song::Song() : trackList(int32_t(sizeof(NoteEvent)), &trackRecord) { MidiNeu(*this); }

Song::~Song() { DelAllTracks(*this); }

TDynaArray* Song::track(int32_t index) const {
    if (index < 0 || index >= trackList.count()) return nullptr;
    TDynaArray* t = nullptr;
    std::memcpy(&t, trackList.element(index), sizeof t);
    return t;
}

TDynaArray* Song::addTrack() {
    void* slot = trackList.Append();
    if (!slot) return nullptr;
    TDynaArray* t = new TDynaArray(int32_t(sizeof(NoteEvent)), &eventRecord);
    std::memcpy(slot, &t, sizeof t);
    return t;
}

void DelAllTracks(Song& song) {
    for (int32_t i = 0; i < song.trackList.count(); ++i) {
        TDynaArray* t = song.track(i);
        if (!t) continue;
        FreeListData(*t);
        delete t;
    }
    song.trackList.Clear();
    song.eventRecord = nullptr;
    if (song.editList) {
        FreeListData(*song.editList);
        song.editList.reset();
    }
}

void MidiNeu(Song& song) {
    DelAllTracks(song);
    song.division = 500;
    for (uint8_t i = 0; i < 16; ++i) {
        TDynaArray* t = song.addTrack();
        if (!t) break;
        NoteEvent program = makeEvent(kProgramChange, i);
        program.dataLength = 1;
        appendEvent(*t, program);
        appendEvent(*t, endOfTrack());
    }
}

void MakeEditable(Song& song) {
    if (song.editList) {
        FreeListData(*song.editList);
        song.editList.reset();
    }
    song.editList = std::make_unique<TDynaArray>(int32_t(sizeof(NoteEvent)), &song.editRecord);
    void* pendingRecord = nullptr;
    std::vector<std::unique_ptr<TDynaArray>> pending;
    for (int c = 0; c < 16; ++c) pending.push_back(std::make_unique<TDynaArray>(int32_t(sizeof(NoteEvent)), &pendingRecord));

    song.microsPerTick = song.division ? 500000u / song.division : 0;
    TDynaArray* track = song.track(0);
    if (track) {
        uint32_t t = 0;
        for (int32_t i = 0; i < track->count(); ++i) {
            const NoteEvent& e = *static_cast<const NoteEvent*>(track->element(i));
            t += e.time;
            TDynaArray& open = *pending[e.channel & 15];
            if (e.kind == kNoteOn && e.dataLength <= 4 && e.data.bytes[1] > 0) {
                NoteEvent c = CopyNoteEvent(e);
                c.time = t;
                appendEvent(open, c);
            } else if (e.kind == kNoteOff || e.kind == 10 || e.kind == kNoteOn) {
                if (open.count() > 0) {
                    // The pending copy moves into the list with its data.
                    NoteEvent on = *static_cast<NoteEvent*>(open.element(open.count() - 1));
                    on.duration = t - on.time;
                    if (appendEvent(*song.editList, on)) {
                        open.Delete(open.count() - 1);
                    }
                }
            } else {
                NoteEvent c = CopyNoteEvent(e);
                c.time = t;
                if (!appendEvent(*song.editList, c)) FreeNoteEventData(c);
            }
        }
    }
    for (auto& p : pending) FreeListData(*p);
}

uint32_t DeltaTicks(uint32_t time, uint32_t prev, uint32_t microsPerTick) {
    const int64_t d = microsPerTick ? int64_t(microsPerTick) : 1;
    const int64_t num = (int64_t(time) - int64_t(prev)) * 1000;
    int64_t q = num / d;
    int64_t r = num % d;
    if (r < 0) {  // floor division for a negative difference
        r += d;
        --q;
    }
    if (2 * r > d || (2 * r == d && (q & 1))) ++q;
    return static_cast<uint32_t>(q);
}

namespace {

// Open-addressing map from (window, note number) to the last index seen.
class LastIndexMap {
public:
    explicit LastIndexMap(size_t entries) {
        size_t cap = 16;
        while (cap < entries * 2) cap *= 2;
        keys_.assign(cap, kEmpty);
        values_.resize(cap);
        mask_ = cap - 1;
    }
    int32_t find(int64_t key) const {
        for (size_t h = hash(key);; h = (h + 1) & mask_) {
            if (keys_[h] == key) return values_[h];
            if (keys_[h] == kEmpty) return -1;
        }
    }
    void put(int64_t key, int32_t value) {
        size_t h = hash(key);
        while (keys_[h] != kEmpty && keys_[h] != key) h = (h + 1) & mask_;
        keys_[h] = key;
        values_[h] = value;
    }

private:
    static constexpr int64_t kEmpty = INT64_MIN;
    size_t hash(int64_t key) const {
        uint64_t x = static_cast<uint64_t>(key) * 0x9E3779B97F4A7C15ull;
        return static_cast<size_t>(x >> 20) & mask_;
    }
    std::vector<int64_t> keys_;
    std::vector<int32_t> values_;
    size_t mask_ = 0;
};

// The same map for a list whose windows never decrease, as the detection
// makes it: per note number the last index of the latest window that had the
// note and of the window before that one. No hashing and no big table.
class RecentWindows {
public:
    int32_t find(int64_t window, uint8_t note) const {
        const Slot& s = slots_[note];
        if (s.latestWindow == window) return s.latestIndex;
        if (s.earlierWindow == window) return s.earlierIndex;
        return -1;
    }
    void put(int64_t window, uint8_t note, int32_t index) {
        Slot& s = slots_[note];
        if (s.latestWindow != window) {
            s.earlierWindow = s.latestWindow;
            s.earlierIndex = s.latestIndex;
            s.latestWindow = window;
        }
        s.latestIndex = index;
    }

private:
    struct Slot {
        int64_t latestWindow = INT64_MIN;
        int64_t earlierWindow = INT64_MIN;
        int32_t latestIndex = -1;
        int32_t earlierIndex = -1;
    };
    std::array<Slot, 256> slots_{};
};

// Records whose data lies in the record itself take part in the join; the
// key is the window and data byte 0 (the note number of a note).
inline bool joinable(const NoteEvent& e) { return e.dataLength <= 4; }
inline int64_t joinKey(int64_t window, uint8_t note) { return window * 256 + note; }

}  // namespace

void KonvertEditedTrack(Song& song) {
    if (!song.editList) return;
    TDynaArray& edit = *song.editList;
    NoteEvent* ev = static_cast<NoteEvent*>(static_cast<void*>(edit.data()));
    const int32_t n = edit.count();

    // 1. Join consecutive windows: every record is merged into the nearest
    //    earlier record of the previous window with the same note number.
    //    Going from the end, a run collapses into its first record with the
    //    summed duration and the largest velocity.
    std::vector<int32_t> target(size_t(n > 0 ? n : 0), -1);
    bool windowsInOrder = true;
    for (int32_t i = 1, prev = -1; i <= n && windowsInOrder; ++i) {
        if (!joinable(ev[i - 1])) continue;
        if (prev >= 0 && ev[i - 1].window < ev[prev].window) windowsInOrder = false;
        prev = i - 1;
    }
    if (windowsInOrder) {
        RecentWindows last;
        for (int32_t i = 0; i < n; ++i) {
            if (!joinable(ev[i])) continue;
            target[size_t(i)] = last.find(int64_t(ev[i].window) - 1, ev[i].data.bytes[0]);
            last.put(ev[i].window, ev[i].data.bytes[0], i);
        }
    } else {
        LastIndexMap last(size_t(n > 0 ? n : 0));
        for (int32_t i = 0; i < n; ++i) {
            if (!joinable(ev[i])) continue;
            target[size_t(i)] = last.find(joinKey(int64_t(ev[i].window) - 1, ev[i].data.bytes[0]));
            last.put(joinKey(ev[i].window, ev[i].data.bytes[0]), i);
        }
    }
    for (int32_t b = n - 1; b >= 0; --b) {
        const int32_t t = target[size_t(b)];
        if (t < 0) continue;
        ev[t].duration += ev[b].duration;
        ev[t].data.bytes[1] = std::max(ev[t].data.bytes[1], ev[b].data.bytes[1]);
    }

    // 2. Keep the records that were not joined into another and last 100 ms
    //    or more; 3. add a note-off for every kept note-on.
    int32_t kept = 0;
    int32_t noteOns = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (target[size_t(i)] >= 0 || ev[i].duration < 100) {
            FreeNoteEventData(ev[i]);
            continue;
        }
        if (ev[i].kind == kNoteOn) ++noteOns;
        ev[kept++] = ev[i];
    }
    std::vector<int32_t>().swap(target);
    std::vector<NoteEvent> all(size_t(kept) + size_t(noteOns));
    std::copy(ev, ev + kept, all.begin());
    edit.Clear();
    song.editList.reset();
    size_t off = all.size();
    for (int32_t i = 0; i < kept; ++i) {
        if (all[size_t(i)].kind != kNoteOn) continue;
        NoteEvent o = CopyNoteEvent(all[size_t(i)]);
        o.time += o.duration;
        o.duration = 0;
        o.kind = kNoteOff;
        all[--off] = o;  // note-offs go in the reverse order of their note-ons
    }

    // 4.-6. Number, sort and write back into track 0.
    WriteTrackZero(song, all);
}

void WriteTrackZero(Song& song, std::vector<NoteEvent>& all) {
    // Number the records and sort by time, equal times by descending number.
    // The keys are unique, so the order is the one a quicksort on (time,
    // number) gives, step by step (tests/transcription/LiteralAssembly).
    std::vector<uint64_t> keys(all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        const uint32_t number = uint32_t(i + 1);
        all[i].duration = number;
        keys[i] = (uint64_t(all[i].time) << 32) | uint64_t(0xFFFFFFFFu - number);
    }
    std::sort(keys.begin(), keys.end());

    // Write back into track 0 as delta ticks, dropping a copied end of track
    // and closing with a new one.
    song.microsPerTick = song.division ? 500000u / song.division : 0;
    TDynaArray* track = song.track(0);
    if (!track) {
        for (NoteEvent& e : all) FreeNoteEventData(e);
        return;
    }
    FreeListData(*track);
    track->Clear();
    std::vector<NoteEvent> out;
    out.reserve(keys.size() + 1);
    uint32_t prev = 0;
    for (uint64_t key : keys) {
        NoteEvent& e = all[size_t(0xFFFFFFFFu - uint32_t(key)) - 1];
        const uint32_t delta = DeltaTicks(e.time, prev, song.microsPerTick);
        prev = e.time;
        if (isEndOfTrack(e)) {
            FreeNoteEventData(e);
            continue;
        }
        e.time = delta;
        out.push_back(e);  // the data block moves into the track
    }
    out.push_back(endOfTrack());
    if (!track->AppendMany(out.data(), int32_t(out.size()))) {
        for (NoteEvent& e : out) FreeNoteEventData(e);
        appendEvent(*track, endOfTrack());
    }
}

}  // namespace notavox
