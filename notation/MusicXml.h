// The score as a MusicXML 4.0 file (partwise, one part), plain or in the
// compressed container (.mxl: a zip archive with META-INF/container.xml).
#pragma once

#include <string>

#include "notation/Score.h"

namespace notavox::notation {

std::string BuildMusicXml(const Score& score);

// The container of one MusicXML document: "mimetype" stored first, then
// META-INF/container.xml and the score deflated.
std::string BuildMxl(const std::string& musicXml, const std::string& innerName = "score.musicxml");

// True when the name ends in .mxl (any letter case): the compressed form.
bool IsCompressedName(const std::string& fileName);

// Writes the score as the name asks (.mxl compressed, else plain), through a
// new file that replaces an old one only when complete; false when it could
// not be written, with the German cause in `cause` when there is one.
bool SaveScore(const Score& score, const std::string& fileName, std::string* cause = nullptr);

}  // namespace notavox::notation
