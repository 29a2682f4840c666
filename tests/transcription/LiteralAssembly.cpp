#include "LiteralAssembly.h"

#include <cstring>

namespace notavox::testing {

namespace {

NoteEvent& at(TDynaArray& list, int32_t i) { return *static_cast<NoteEvent*>(list.At(i)); }

bool before(const NoteEvent& a, uint32_t t, uint32_t d) { return a.time < t || (a.time == t && a.duration > d); }

void sortRange(TDynaArray& list, int32_t l, int32_t r) {
    const NoteEvent pivot = at(list, (l + r) / 2);
    int32_t i = l;
    int32_t j = r;
    do {
        while (before(at(list, i), pivot.time, pivot.duration)) ++i;
        while (pivot.time < at(list, j).time ||
               (pivot.time == at(list, j).time && pivot.duration > at(list, j).duration))
            --j;
        if (i <= j) {
            list.Swap(i, j);
            ++i;
            --j;
        }
    } while (i <= j);
    if (l < j) sortRange(list, l, j);
    if (i < r) sortRange(list, i, r);
}

}  // namespace

void LiteralSortEditableData(Song& song) {
    if (song.editList && song.editList->count() >= 1) sortRange(*song.editList, 0, song.editList->count() - 1);
}

void LiteralKonvertEditedTrack(Song& song) {
    if (!song.editList) return;
    TDynaArray& edit = *song.editList;

    // 1. Join.
    const int32_t last = edit.count() - 1;
    for (int32_t b = last; b >= 0; --b) {
        for (int32_t n = b - 1; n >= 0; --n) {
            NoteEvent& eb = at(edit, b);
            NoteEvent& en = at(edit, n);
            if (eb.dataLength > 4 || en.dataLength > 4) continue;
            if (int64_t(eb.window) - 1 == int64_t(en.window) && eb.data.bytes[0] == en.data.bytes[0]) {
                en.duration += eb.duration;
                if (eb.data.bytes[1] > en.data.bytes[1]) en.data.bytes[1] = eb.data.bytes[1];
                FreeNoteEventData(eb);
                edit.Delete(b);
                break;
            }
        }
    }
    // 2. Drop short records.
    for (int32_t i = edit.count() - 1; i >= 0; --i) {
        if (at(edit, i).duration < 100) {
            FreeNoteEventData(at(edit, i));
            edit.Delete(i);
        }
    }
    // 3. Note-offs.
    void* tempRecord = nullptr;
    TDynaArray offs(int32_t(sizeof(NoteEvent)), &tempRecord);
    edit.First();
    while (edit.Next()) {
        const NoteEvent& e = *static_cast<NoteEvent*>(edit.current());
        if (e.kind != kNoteOn) continue;
        NoteEvent o = CopyNoteEvent(e);
        o.time = e.time + e.duration;
        o.duration = 0;
        o.kind = kNoteOff;
        std::memcpy(offs.Insert(0), &o, sizeof o);
    }
    for (int32_t i = 0; i < offs.count(); ++i) std::memcpy(edit.Append(), offs.element(i), sizeof(NoteEvent));
    // 4. Number.
    edit.First();
    while (edit.Next()) static_cast<NoteEvent*>(edit.current())->duration = uint32_t(edit.cursor());
    // 5. Sort.
    LiteralSortEditableData(song);
    // 6. Write back.
    song.microsPerTick = 500000u / song.division;
    TDynaArray* track = song.track(0);
    if (track) {
        FreeListData(*track);
        track->Clear();
        uint32_t prev = 0;
        edit.First();
        while (edit.Next()) {
            const NoteEvent& e = *static_cast<NoteEvent*>(edit.current());
            const uint32_t delta = DeltaTicks(e.time, prev, song.microsPerTick);
            prev = e.time;
            if (isEndOfTrack(e)) continue;
            NoteEvent c = CopyNoteEvent(e);
            c.time = delta;
            std::memcpy(track->Append(), &c, sizeof c);
        }
        NoteEvent eot;
        std::memset(&eot, 0, sizeof eot);
        eot.kind = kMetaEvent;
        eot.metaType = kEndOfTrack;
        eot.channel = 15;
        std::memcpy(track->Append(), &eot, sizeof eot);
    }
    // 7. Release.
    FreeListData(edit);
    song.editList.reset();
}

}  // namespace notavox::testing
