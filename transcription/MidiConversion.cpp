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

    AudioDocument copy;
    const AudioDocument* analysed = &doc;
    // A rate the analysis does not take leaves nothing to analyse: the
    // recording is neither converted nor read, and the song stays empty.
    const bool rateSupported = SampleRateSupported(doc.sampleRate);
    if (!rateSupported) {
        outcome.format = doc.sampleRate <= 0 ? FormatResult::NoSampleRate : FormatResult::UnsupportedRate;
    } else if (!hooks.keepRecording) {
        outcome.format = ChangeFormatToStandart(doc);
    } else if (IsAnalysisFormat(doc)) {
        outcome.format = FormatResult::Unchanged;
    } else {
        outcome.format = ConvertSampleFormatInto(doc, kStandardFormat, copy);
        if (outcome.format == FormatResult::Converted) analysed = &copy;
    }
    if (hooks.formatStep) hooks.formatStep(outcome.format);
    outcome.formatSeconds = since(t);
    if (hooks.stopOnFormatFailure && outcome.format != FormatResult::Converted &&
        outcome.format != FormatResult::Unchanged) {
        outcome.result = MidiConversionResult::FormatFailed;
        return outcome;
    }

    MakeEditable(song);
    if (rateSupported) {
        outcome.windows = WindowCount(analysed->frameCount());
        outcome.detections = DetectNotes(*analysed, *song.editList, host, threads);
    }
    if (hooks.detectionDone) hooks.detectionDone();
    host.SetProStatus(0);
    outcome.detectionSeconds = since(t);

    if (hooks.statusText) hooks.statusText(kSortingNotesText);
    KonvertEditedTrack(song);
    if (TDynaArray* track = song.track(0)) outcome.notes = (track->count() - 1) / 2;
    outcome.assemblySeconds = since(t);

    if (hooks.statusText) hooks.statusText(kSavingNotesText);
    const bool written = SaveAsMIDI(song, fileName, &outcome.fileError);
    outcome.result = written ? MidiConversionResult::Written : MidiConversionResult::FileError;
    if (hooks.fileWritten) hooks.fileWritten(written);
    if (hooks.statusText) hooks.statusText("");
    MidiNeu(song);
    outcome.writeSeconds = since(t);
    return outcome;
}

}  // namespace notavox
