// The score of the accurate analysis, the same for notavox-convert and the
// window: the notes laid out as the tempo-mapped MIDI file has them (tempo
// map, metre and key found or chosen), then written as MusicXML.
#pragma once

#include <string>
#include <vector>

#include "notation/MusicXml.h"
#include "notation/Score.h"
#include "rhythm/TempoMappedExport.h"
#include "transcription/TranscribedNote.h"

namespace notavox::notation {

ScoreInput ScoreInputFromLayout(const TempoMappedLayout& layout, const std::string& title = std::string());

// Lays out and writes the score; false when it could not be written (the
// German cause in `cause`).
bool SaveScoreFromAnalysis(const TempoAnalysis& analysis, const std::vector<TranscribedNote>& notes,
                           const TempoChoices& choices, const std::string& fileName, std::string* cause = nullptr);

// The title a score gets from its file name: the name without folder and
// extension.
std::string TitleFromFileName(const std::string& fileName);

}  // namespace notavox::notation
