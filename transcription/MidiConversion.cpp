#include "transcription/MidiConversion.h"

#include <chrono>

#include "transcription/MidiFile.h"
#include "transcription/NoteDetection.h"

namespace notavox {

namespace {
using Clock = std::chrono::steady_clock;
double since(Clock::time_point& t) {
    const Clock::time_point now = Clock::now();
    const double s = std::chrono::duration<double>(now - t).count();
    t = now;
    return s;
}
}  // namespace

MidiConversionOutcome ConvertRecordingToMIDI(AudioDocument& doc, Song& song, const std::string& fileName,
                                             OperationHost& host, const MidiConversionHooks& hooks,
                                             unsigned threads) {
    MidiConversionOutcome outcome;
    if (doc.byteCount == 0) return outcome;
    Clock::time_point t = Clock::now();

    outcome.format = ChangeFormatToStandart(doc);
    if (hooks.formatStep) hooks.formatStep(outcome.format);
    outcome.formatSeconds = since(t);

    MakeEditable(song);
    outcome.windows = WindowCount(doc.frameCount());
    outcome.detections = DetectNotes(doc, *song.editList, host, threads);
    if (hooks.detectionDone) hooks.detectionDone();
    host.SetProStatus(0);
    outcome.detectionSeconds = since(t);

    if (hooks.statusText) hooks.statusText(kSortingNotesText);
    KonvertEditedTrack(song);
    if (TDynaArray* track = song.track(0)) outcome.notes = (track->count() - 1) / 2;
    outcome.assemblySeconds = since(t);

    if (hooks.statusText) hooks.statusText(kSavingNotesText);
    const bool written = SaveAsMIDI(song, fileName);
    outcome.result = written ? MidiConversionResult::Written : MidiConversionResult::FileError;
    if (hooks.fileWritten) hooks.fileWritten(written);
    if (hooks.statusText) hooks.statusText("");
    MidiNeu(song);
    outcome.writeSeconds = since(t);
    return outcome;
}

}  // namespace notavox
