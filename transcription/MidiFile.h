// The Standard MIDI File writer: header, one track chunk per track of the
// song, every event as stored, no running status.
#pragma once

#include <cstdint>
#include <string>

#include "transcription/NoteList.h"

namespace notavox {

// Big-endian byte order of a value as it is stored in memory.
uint32_t SwapBytes32(uint32_t v);
uint16_t SwapBytes16(uint16_t v);

// Appends v as a MIDI variable-length quantity (1 to 5 bytes).
void WriteVarLen(std::string& out, uint32_t v);

// The whole file as bytes; sets the song's format (1 for more than one
// track, else 0).
std::string BuildMIDIFile(Song& song);

// Writes the song to `fileName` through a new file that replaces the old one
// only when complete. False when the file could not be created or written;
// an old file of that name is then untouched and no partial file is left.
// `error` (optional) receives the errno of a failure (see SaveErrorText).
bool SaveAsMIDI(Song& song, const std::string& fileName, int* error = nullptr);

}  // namespace notavox
