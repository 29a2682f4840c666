#include <atomic>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "recognition/AccurateConversion.h"
#include "recognition/ModelLocation.h"
#include "recognition/NoteWriter.h"
#include "recognition/RecognitionSupport.h"
#include "support/Files.h"
#include "support/NoThreads.h"
#include "support/TempDir.h"
#include "transcription/MidiConversion.h"
#include "transcription/MidiFile.h"

using namespace notavox;
using namespace notavox::recognition;
using notavox::testing::readFile;
using notavox::testing::TempDir;

namespace {

struct Recorder : OperationHost {
    std::vector<int32_t> progress;
    void SetProStatus(int32_t p) override { progress.push_back(p); }
};

// Everything a transcription gives: the raw outputs and the notes.
struct Result {
    std::string outputs;
    std::vector<TranscribedNote> notes;
};

Result transcribe(const AudioDocument& doc, const Model& m, unsigned threads, int32_t block) {
    Result r;
    TranscribeOptions o;
    o.threads = threads;
    o.blockFrames = block;
    o.outputs = [&](int64_t, int count, const float* on, const float* fr, const float* ve, size_t stride) {
        for (const float* h : {on, fr, ve})
            for (int k = 0; k < 88; ++k)
                r.outputs.append(reinterpret_cast<const char*>(h + size_t(k) * stride), size_t(count) * 4);
    };
    OperationHost host;
    Transcription t = TranscribeRecording(doc, m, host, nullptr, o);
    EXPECT_TRUE(t.error.empty()) << t.error;
    r.notes = t.notes;
    return r;
}


std::string freshTracks() {
    std::string t;
    for (int i = 1; i < 16; ++i) t += std::string("MTrk\0\0\0\x07\0", 9) + char(0xC0 + i) + std::string("\0\0\xFF\x2F\0", 5);
    return t;
}

}  // namespace

// One thread or two, blocks of any size: the same bits in every output and
// the same notes. The recording spans several 16 kHz pieces and tiles.
TEST(RecognitionConversion, ThreadsAndBlocksGiveIdenticalResults) {
    const AudioDocument doc =
        notavox::testing::toneRecording(44100, true, true, 4.5, {{261.6, 0.3}, {329.6, 0.2}, {784.0, 0.1}});
    Model m = notavox::testing::randomModel(6, 10, 12, 5);
    m.decode = DecodeSettings{0.55f, 0.5f, 2};
    const Result base = transcribe(doc, m, 1, 4000);
    ASSERT_EQ(base.outputs.size(), size_t(3 * 88 * 451 * 4));
    EXPECT_FALSE(base.notes.empty());
    // Blocks of a frame or two are as dear as whole tiles each: the smallest
    // here is 7 frames (OutputsOfEveryFrameDoNotDependOnTheBlock hands over
    // frame by frame).
    for (auto [threads, block] : {std::pair{2u, 4000}, std::pair{2u, 237}, std::pair{1u, 7}, std::pair{2u, 150}}) {
        // Outputs arrive per block in key-major rows: compare per block size
        // through the notes and through a frame-major copy.
        const Result r = transcribe(doc, m, threads, block);
        ASSERT_EQ(r.notes.size(), base.notes.size()) << threads << " " << block;
        for (size_t i = 0; i < r.notes.size(); ++i) {
            EXPECT_EQ(r.notes[i].pitch, base.notes[i].pitch);
            EXPECT_EQ(r.notes[i].onset, base.notes[i].onset);
            EXPECT_EQ(r.notes[i].offset, base.notes[i].offset);
            EXPECT_EQ(r.notes[i].velocity, base.notes[i].velocity);
        }
        if (block == 4000) {
            EXPECT_TRUE(r.outputs == base.outputs) << threads;
        }
    }
}

// Where no thread can be started, the calling thread does all the work, with
// the same bits.
TEST(RecognitionConversion, WithoutThreadsTheCallerGivesTheSameResults) {
    const AudioDocument doc = notavox::testing::toneRecording(44100, true, true, 3.0, {{440.0, 0.4}, {659.3, 0.2}});
    const Model m = notavox::testing::randomModel(5, 9, 7, 2);
    const Result threaded = transcribe(doc, m, 2, 120);
    notavox::testing::NoThreads none;
    const Result single = transcribe(doc, m, 2, 120);
    EXPECT_EQ(notavox::testing::NoThreads::startedCount(), 0);
    EXPECT_TRUE(single.outputs == threaded.outputs);
    EXPECT_EQ(single.notes.size(), threaded.notes.size());
}

// The blocks of a small size hand over frame by frame: the outputs of a
// frame are the same whichever block computed them.
TEST(RecognitionConversion, OutputsOfEveryFrameDoNotDependOnTheBlock) {
    const AudioDocument doc = notavox::testing::toneRecording(22050, false, true, 4.0, {{440.0, 0.5}});
    const Model m = notavox::testing::randomModel(5, 9, 7, 2);
    auto frameMajor = [&](unsigned threads, int32_t block) {
        std::vector<float> all;
        TranscribeOptions o;
        o.threads = threads;
        o.blockFrames = block;
        o.outputs = [&](int64_t t0, int count, const float* on, const float* fr, const float* ve, size_t stride) {
            all.resize(size_t(t0 + count) * 264);
            for (int i = 0; i < count; ++i)
                for (int k = 0; k < 88; ++k) {
                    all[size_t(t0 + i) * 264 + size_t(k)] = on[size_t(k) * stride + size_t(i)];
                    all[size_t(t0 + i) * 264 + 88 + size_t(k)] = fr[size_t(k) * stride + size_t(i)];
                    all[size_t(t0 + i) * 264 + 176 + size_t(k)] = ve[size_t(k) * stride + size_t(i)];
                }
        };
        OperationHost host;
        TranscribeRecording(doc, m, host, nullptr, o);
        return all;
    };
    const std::vector<float> base = frameMajor(1, 4000);
    ASSERT_EQ(base.size(), size_t(401) * 264);
    for (auto [threads, block] : {std::pair{2u, 7}, std::pair{1u, 100}, std::pair{2u, 400}})
        EXPECT_EQ(std::memcmp(frameMajor(threads, block).data(), base.data(), base.size() * 4), 0) << block;
}

TEST(RecognitionWriter, NotesGetTheLayoutOfSpeichernAlsMid) {
    // No notes: exactly the file of a conversion that kept none.
    Song empty;
    PutNotesInSong({}, empty);
    EXPECT_EQ(BuildMIDIFile(empty), std::string("MThd\0\0\0\x06\0\x01\0\x10\x01\xF4", 14) +
                                        std::string("MTrk\0\0\0\x04\0\xFF\x2F\0", 12) + freshTracks());
    Song song;
    PutNotesInSong({{64, 0.30, 0.50, 100}, {60, 0.10, 0.30, 64}, {67, 0.10, 0.20, 64}}, song);
    const std::string track0 = std::string("\x64\x93\x43\x40", 4) +  // G4 and C4 start together: higher first
                               std::string("\0\x94\x3C\x40", 4) +      //
                               std::string("\x64\x83\x43\x40", 4) +  // 100 ms later G4 ends
                               std::string("\x64\x84\x3C\x40", 4) +  // the end of C4 before
                               std::string("\0\x90\x40\x64", 4) +    // the start of E4 at 300 ms
                               std::string("\x81\x48\x80\x40\x64", 5) +  // E4 ends after 200 ms
                               std::string("\0\xFF\x2F\0", 4);
    EXPECT_EQ(BuildMIDIFile(song), std::string("MThd\0\0\0\x06\0\x01\0\x10\x01\xF4", 14) +
                                       std::string("MTrk\0\0\0", 7) + char(track0.size()) + track0 + freshTracks());
}

TEST(RecognitionConversion, WritesTheFileAndLeavesTheRecordingAlone) {
    TempDir dir;
    Model m = notavox::testing::randomModel(4, 8, 8, 9);
    {
        std::ofstream f(dir.file("m.nvm"), std::ios::binary);
        f << notavox::testing::modelBytes(m);
    }
    const AudioDocument doc = notavox::testing::toneRecording(48000, true, false, 3.0, {{523.3, 0.4}});
    const std::string before(reinterpret_cast<const char*>(doc.sampleData.get()), size_t(doc.byteCount));
    Recorder host;
    const std::atomic<bool> go{false};
    const AccurateOutcome out = ConvertRecordingAccurate(doc, dir.file("a.mid"), host, go, 2, dir.file("m.nvm"));
    ASSERT_EQ(out.result, AccurateResult::Written) << out.message;
    EXPECT_EQ(out.frames, 301);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(doc.sampleData.get()), size_t(doc.byteCount)), before);
    EXPECT_EQ(doc.sampleRate, 48000);
    ASSERT_FALSE(host.progress.empty());
    EXPECT_EQ(host.progress.back(), 0);
    EXPECT_NE(std::find(host.progress.begin(), host.progress.end(), 100), host.progress.end());
    EXPECT_TRUE(std::is_sorted(host.progress.begin(), host.progress.end() - 1));
    // The file holds the notes the transcription finds, in the writer's layout.
    OperationHost quiet;
    const Transcription t = TranscribeRecording(doc, LoadModel(dir.file("m.nvm")).model, quiet);
    Song song;
    PutNotesInSong(t.notes, song);
    EXPECT_TRUE(readFile(dir.file("a.mid")) == BuildMIDIFile(song));
    EXPECT_EQ(out.notes, int64_t(t.notes.size()));

    // A file that cannot be created; an old file of the name stays.
    EXPECT_EQ(ConvertRecordingAccurate(doc, dir.file("no/a.mid"), host, go, 1, dir.file("m.nvm")).message,
              kMidiFileErrorText);
    // No model, a broken model.
    const AccurateOutcome none = ConvertRecordingAccurate(doc, dir.file("b.mid"), host, go, 1, dir.file("none.nvm"));
    EXPECT_EQ(none.result, AccurateResult::ModelError);
    EXPECT_EQ(none.message, "Konnte die Modelldatei " + dir.file("none.nvm") + " nicht öffnen");
    {
        std::ofstream f(dir.file("bad.nvm"), std::ios::binary);
        f << "NVNM";
    }
    EXPECT_EQ(ConvertRecordingAccurate(doc, dir.file("b.mid"), host, go, 1, dir.file("bad.nvm")).result,
              AccurateResult::ModelError);
    EXPECT_EQ(readFile(dir.file("b.mid")), "");
    // No recording: nothing is written.
    AudioDocument nothing;
    EXPECT_EQ(ConvertRecordingAccurate(nothing, dir.file("b.mid"), host, go, 1, dir.file("m.nvm")).result,
              AccurateResult::NoRecording);
    EXPECT_EQ(readFile(dir.file("b.mid")), "");
}

TEST(RecognitionConversion, CancelStopsWithoutAFile) {
    TempDir dir;
    const Model m = notavox::testing::randomModel(4, 8, 8, 9);
    {
        std::ofstream f(dir.file("m.nvm"), std::ios::binary);
        f << notavox::testing::modelBytes(m);
    }
    const AudioDocument doc = notavox::testing::toneRecording(16000, false, true, 2.0, {{440.0, 0.4}});
    // The flag is set by the first progress report, as a STOP button would.
    struct Stopper : OperationHost {
        std::atomic<bool>* flag;
        void SetProStatus(int32_t p) override {
            if (p > 0) flag->store(true);
        }
    } host;
    std::atomic<bool> cancel{false};
    host.flag = &cancel;
    TranscribeOptions o;
    o.blockFrames = 50;
    const Transcription t = TranscribeRecording(doc, m, host, &cancel, o);
    EXPECT_TRUE(t.cancelled);
    EXPECT_TRUE(t.notes.empty());
    cancel = true;
    const AccurateOutcome out = ConvertRecordingAccurate(doc, dir.file("c.mid"), host, cancel, 1, dir.file("m.nvm"));
    EXPECT_EQ(out.result, AccurateResult::Cancelled);
    EXPECT_EQ(out.message, kCancelledText);
    EXPECT_EQ(readFile(dir.file("c.mid")), "");
}

// The build puts the shipped model beside the program, where it is looked
// for first.
TEST(RecognitionConversion, BuildPutsTheModelWhereTheProgramLooks) {
    const std::string besideConverter = std::string(NOTAVOX_BINARY_DIR) + "/" + kModelFileName;
    const std::string shipped = readFile(notavox::testing::kShippedModel);
    ASSERT_FALSE(shipped.empty()) << "recognition/model/notes.nvm is missing";
    EXPECT_EQ(readFile(besideConverter), shipped);
    const auto paths = ModelSearchPaths();
    ASSERT_GE(paths.size(), 2u);
    EXPECT_EQ(paths[0].substr(paths[0].size() - 10), "/notes.nvm");
    EXPECT_NE(paths[1].find("/../share/notavox/notes.nvm"), std::string::npos);
}
