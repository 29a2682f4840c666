// The three edit commands of the "Bearbeiten" menu: crop to the selection,
// cut the selection out, select nothing. They work on whole frames; the
// selection is half-open (the frame at the larger end is not part of it).
#pragma once

#include <cstdint>

#include "audio/AudioDocument.h"

namespace notavox {

// "Zur Auswahl zurechtschneiden": keeps only the selected frames. Returns true
// when the recording was replaced (selection reset to 0; the caller then shows
// the whole recording). Returns false and changes nothing when nothing is
// selected or the new block cannot be allocated.
bool CropToSelection(AudioDocument& doc);

// "Die Auswahl wegschneiden": removes the selected frames. Same results as
// CropToSelection.
bool CutSelection(AudioDocument& doc);

// "Nichts auswählen": both selection ends to 0.
void SelectNothing(AudioDocument& doc);

}  // namespace notavox
