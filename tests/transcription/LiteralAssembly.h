// The track assembly done step by step with the list operations, exactly as
// the program's description reads: a join that compares each record with
// every earlier one, one Delete per dropped record, note-offs inserted at the
// front of a temporary list, and the recursive quicksort. Quadratic; the fast
// KonvertEditedTrack must give the same track.
#pragma once

#include "transcription/NoteList.h"

namespace notavox::testing {

void LiteralKonvertEditedTrack(Song& song);
void LiteralSortEditableData(Song& song);

}  // namespace notavox::testing
