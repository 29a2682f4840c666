#include <cstring>

#include <gtest/gtest.h>

#include "LiteralAssembly.h"
#include "TestSupport.h"
#include "audio/WavFile.h"
#include "transcription/MidiConversion.h"
#include "transcription/MidiFile.h"
#include "transcription/NoteDetection.h"

using namespace notavox;
using namespace notavox::testing;

namespace {

const std::string kExample = std::string(NOTAVOX_SOURCE_DIR) + "/examples/melody.wav";

struct RecordingHost : OperationHost {
    std::vector<int32_t> progress;
    void SetProStatus(int32_t p) override { progress.push_back(p); }
};

AudioDocument load(const std::string& path) {
    WavData w;
    EXPECT_TRUE(ReadWAVFile(path, w));
    AudioDocument d;
    d.replace(std::move(w.block), w.byteCount, w.sampleRate, w.stereo, w.sixteenBit);
    return d;
}

// The song's tracks in the form midi_dump.py prints.
std::string dumpSong(const Song& song) {
    std::string out = "type " + std::to_string(song.trackCount() > 1 ? 1 : 0) + " tracks " +
                      std::to_string(song.trackCount()) + " division " + std::to_string(song.division) + "\n";
    for (int32_t t = 0; t < song.trackCount(); ++t) {
        for (const NoteEvent& e : events(*song.track(t))) {
            out += std::to_string(t) + " " + std::to_string(e.time) + " ";
            if (e.kind == kNoteOn || e.kind == kNoteOff) {
                // mido reads a note-on with velocity 0 as it is written.
                out += std::string(e.kind == kNoteOn ? "note_on " : "note_off ") + std::to_string(e.channel) + " " +
                       std::to_string(e.data.bytes[0]) + " " + std::to_string(e.data.bytes[1]);
            } else if (e.kind == kProgramChange) {
                out += "program_change " + std::to_string(e.channel) + " " + std::to_string(e.data.bytes[0]);
            } else {
                out += "end_of_track";
            }
            out += "\n";
        }
    }
    return out;
}

std::string run(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

}  // namespace

TEST(MidiConversion, ExampleFileReadsBackWithAnIndependentReader) {
    if (!haveTool("/usr/bin/python3") || std::system("/usr/bin/python3 -c 'import mido' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-mido is not installed";
    AudioDocument doc = load(kExample);
    ASSERT_EQ(ChangeFormatToStandart(doc), FormatResult::Converted);
    Song song;
    MakeEditable(song);
    OperationHost host;
    ASSERT_GT(DetectNotes(doc, *song.editList, host), 100);
    KonvertEditedTrack(song);
    ASSERT_GT(song.track(0)->count(), 20);
    const TempDir tmp;
    const std::string& dir = tmp.path();
    const std::string path = dir + "/melody.mid";
    ASSERT_TRUE(SaveAsMIDI(song, path));
    const std::string theirs =
        run("/usr/bin/python3 '" NOTAVOX_SOURCE_DIR "/tests/transcription/midi_dump.py' '" + path + "'");
    EXPECT_EQ(theirs, dumpSong(song));
    // Every note-on has its note-off, on the note's own channel.
    int open = 0;
    for (const NoteEvent& e : events(*song.track(0))) {
        if (e.kind == kNoteOn || e.kind == kNoteOff) {
            EXPECT_EQ(e.channel, e.data.bytes[0] % 8);
        }
        open += e.kind == kNoteOn ? 1 : e.kind == kNoteOff ? -1 : 0;
        EXPECT_GE(open, 0);
    }
    EXPECT_EQ(open, 0);
}

TEST(MidiConversion, WholeRoadWithItsHooks) {
    AudioDocument doc = load(kExample);
    doc.selectionStart = 10;
    Song song;
    RecordingHost host;
    std::vector<std::string> steps;
    MidiConversionHooks hooks;
    hooks.formatStep = [&](FormatResult r) { steps.push_back(r == FormatResult::Converted ? "format" : "same"); };
    hooks.detectionDone = [&] { steps.push_back("detected " + std::to_string(host.progress.back())); };
    hooks.statusText = [&](const char* t) { steps.push_back(std::string("text:") + t); };
    hooks.fileWritten = [&](bool ok) { steps.push_back(ok ? "written" : "failed"); };
    const TempDir tmp;
    const std::string& dir = tmp.path();
    const MidiConversionOutcome out = ConvertRecordingToMIDI(doc, song, dir + "/a.mid", host, hooks);
    EXPECT_EQ(out.result, MidiConversionResult::Written);
    EXPECT_EQ(out.format, FormatResult::Converted);
    EXPECT_EQ(steps, (std::vector<std::string>{"format", "detected 100", "text:Noten werden sortiert...",
                                               "text:Noten werden gespeichert...", "written", "text:"}));
    EXPECT_EQ(host.progress.back(), 0);
    // The recording keeps its format, samples and selection: the analysis
    // worked on a converted copy.
    const AudioDocument original = load(kExample);
    EXPECT_EQ(doc.stereo, original.stereo);
    EXPECT_EQ(doc.sixteenBit, original.sixteenBit);
    EXPECT_EQ(doc.sampleRate, original.sampleRate);
    ASSERT_EQ(doc.byteCount, original.byteCount);
    EXPECT_EQ(std::memcmp(doc.sampleData.get(), original.sampleData.get(), size_t(doc.byteCount)), 0);
    EXPECT_EQ(doc.selectionStart, 10);
    EXPECT_GT(out.notes, 10);
    EXPECT_EQ(out.windows, ConvertedByteCount(doc, kStandardFormat) / 1024 + 1);
    // The song is fresh again, and a second run writes the same file, as
    // does the conversion of the recording itself.
    EXPECT_EQ(song.track(0)->count(), 2);
    const std::string first = readFile(dir + "/a.mid");
    const MidiConversionOutcome again = ConvertRecordingToMIDI(doc, song, dir + "/b.mid", host);
    EXPECT_EQ(again.format, FormatResult::Converted);
    EXPECT_EQ(readFile(dir + "/b.mid"), first);
    MidiConversionHooks inPlace;
    inPlace.keepRecording = false;
    EXPECT_EQ(ConvertRecordingToMIDI(doc, song, dir + "/c.mid", host, inPlace).format, FormatResult::Converted);
    EXPECT_FALSE(doc.stereo);
    EXPECT_FALSE(doc.sixteenBit);
    EXPECT_EQ(doc.sampleRate, 44100);
    EXPECT_EQ(readFile(dir + "/c.mid"), first);
}

TEST(MidiConversion, RateZeroWritesTheEmptySong) {
    AudioDocument doc = load(kExample);
    doc.sampleRate = 0;
    Song song;
    OperationHost host;
    const TempDir tmp;
    const std::string& dir = tmp.path();
    const MidiConversionOutcome out = ConvertRecordingToMIDI(doc, song, dir + "/z.mid", host);
    EXPECT_EQ(out.format, FormatResult::NoSampleRate);
    EXPECT_TRUE(doc.sixteenBit);  // left unchanged
    EXPECT_EQ(out.result, MidiConversionResult::Written);
    Song fresh;
    MakeEditable(fresh);
    KonvertEditedTrack(fresh);
    EXPECT_EQ(readFile(dir + "/z.mid"), BuildMIDIFile(fresh));
    // 8-bit mono at 0 Hz is not converted at all; the same empty song.
    AudioDocument mono;
    mono.replace(allocateBlock(5000), 5000, 0, false, false);
    std::memset(mono.sampleData.get(), 7, 5000);
    EXPECT_EQ(ConvertRecordingToMIDI(mono, song, dir + "/y.mid", host).format, FormatResult::NoSampleRate);
    EXPECT_EQ(readFile(dir + "/y.mid"), BuildMIDIFile(fresh));
}

// Rates outside 1000..192000 Hz are not analysed: the step says so naming
// the rate, nothing is converted or allocated (a 1 Hz recording would grow
// 44100-fold), and the window's command writes the empty song as for 0 Hz;
// the converter stops before the file.
TEST(MidiConversion, RatesOutsideTheRangeAreNotAnalysed) {
    Song fresh;
    MakeEditable(fresh);
    KonvertEditedTrack(fresh);
    const TempDir tmp;
    OperationHost host;
    for (int32_t rate : {1, 999, 192001, 2000000000}) {
        for (bool mono8 : {false, true}) {
            AudioDocument doc;
            const int32_t bytes = 48000;
            doc.replace(allocateBlock(bytes), bytes, rate, !mono8, !mono8);
            std::memset(doc.sampleData.get(), 0x55, size_t(bytes));
            Song song;
            MidiConversionHooks hooks;
            hooks.keepRecording = false;
            const MidiConversionOutcome out = ConvertRecordingToMIDI(doc, song, tmp.path() + "/r.mid", host, hooks);
            EXPECT_EQ(out.format, FormatResult::UnsupportedRate) << rate;
            EXPECT_EQ(out.detections, 0);
            EXPECT_EQ(doc.byteCount, bytes);  // not converted
            EXPECT_EQ(doc.sampleRate, rate);
            EXPECT_EQ(readFile(tmp.path() + "/r.mid"), BuildMIDIFile(fresh));
            hooks.stopOnFormatFailure = true;
            EXPECT_EQ(ConvertRecordingToMIDI(doc, song, tmp.path() + "/s.mid", host, hooks).result,
                      MidiConversionResult::FormatFailed);
            EXPECT_EQ(readFile(tmp.path() + "/s.mid"), "");
        }
        EXPECT_EQ(FormatResultMessage(FormatResult::UnsupportedRate, rate),
                  "Das Sampleformat kann nicht geändert werden: Die Samplerate " + std::to_string(rate) +
                      " Hz wird nicht unterstützt (erlaubt sind 1000 bis 192000 Hz).");
    }
}

TEST(MidiConversion, FailedFileAndEmptyRecording) {
    AudioDocument doc = load(kExample);
    Song song;
    OperationHost host;
    std::vector<std::string> texts;
    MidiConversionHooks hooks;
    hooks.statusText = [&](const char* t) { texts.push_back(t); };
    const MidiConversionOutcome out = ConvertRecordingToMIDI(doc, song, "/nonexistent-folder/x.mid", host, hooks);
    EXPECT_EQ(out.result, MidiConversionResult::FileError);
    EXPECT_EQ(texts.back(), "");
    EXPECT_EQ(song.track(0)->count(), 2);
    EXPECT_EQ(song.trackCount(), 16);

    AudioDocument empty;
    const TempDir tmp;
    const std::string& dir = tmp.path();
    EXPECT_EQ(ConvertRecordingToMIDI(empty, song, dir + "/e.mid", host).result, MidiConversionResult::NoRecording);
    EXPECT_TRUE(readFile(dir + "/e.mid").empty());
}

TEST(MidiConversion, AssemblyOfTheExampleMatchesTheStepByStepOne) {
    AudioDocument doc = load(kExample);
    ChangeFormatToStandart(doc);
    Song a, b;
    MakeEditable(a);
    MakeEditable(b);
    OperationHost host;
    DetectNotes(doc, *a.editList, host);
    DetectNotes(doc, *b.editList, host);
    KonvertEditedTrack(a);
    LiteralKonvertEditedTrack(b);
    EXPECT_EQ(BuildMIDIFile(a), BuildMIDIFile(b));
}
