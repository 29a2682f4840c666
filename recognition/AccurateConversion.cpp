#include "recognition/AccurateConversion.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>

#include "audio/Parallel.h"
#include "audio/SampleFormat.h"
#include "recognition/Features.h"
#include "recognition/Network.h"
#include "recognition/Recogniser.h"
#include "recognition/NoteDecoder.h"
#include "recognition/NoteWriter.h"
#include "recognition/Resampler.h"
#include "transcription/MidiConversion.h"

namespace notavox::recognition {

namespace {

using Clock = std::chrono::steady_clock;

double processorSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Adds the wall and processor time since the last lap to a stage.
class Stopwatch {
public:
    void lap(double& wall, double& cpu) {
        const Clock::time_point now = Clock::now();
        const double c = processorSeconds();
        wall += std::chrono::duration<double>(now - last_).count();
        cpu += c - lastCpu_;
        last_ = now;
        lastCpu_ = c;
    }

private:
    Clock::time_point last_ = Clock::now();
    double lastCpu_ = processorSeconds();
};

constexpr int kFramesPerFeatureItem = 64;

}  // namespace

Transcription TranscribeRecording(const AudioDocument& doc, const Model& model, OperationHost& host,
                                  const std::atomic<bool>* cancel, const TranscribeOptions& options) {
    Transcription result;
    if (!SampleRateSupported(doc.sampleRate)) {
        result.error = UnsupportedSampleRateText(doc.sampleRate);
        return result;
    }
    auto stopped = [&] { return cancel && cancel->load(std::memory_order_relaxed); };
    Stopwatch clock;
    PartGroup group(options.threads);
    const unsigned threads = unsigned(group.parts());

    // A recording whose loudest sample stays below -60 dB of full scale holds
    // no music, only the noise of an empty input or of dither: it is analysed
    // as the silence it is instead of being raised to full level.
    constexpr float kQuietestPeak = 0.001f;
    const float peak = PeakLevel(doc, threads);
    const Resampler resampler(doc, peak >= kQuietestPeak ? 1.0f / peak : 0.0f);
    const int64_t N = resampler.length();
    const int64_t T = FrameCount(N);
    result.frames = T;
    clock.lap(result.times.peak, result.times.peakCpu);

    const FeatureExtractor extractor;
    const Network network(model);
    std::vector<std::unique_ptr<Network::Scratch, void (*)(Network::Scratch*)>> scratch;
    for (unsigned w = 0; w < threads; ++w) scratch.push_back(network.makeScratch());
    NoteDecoder decoder(options.decode ? *options.decode : model.decode);

    const int64_t blockFrames = std::max<int32_t>(1, options.blockFrames);
    const int64_t P = Resampler::kPieceLength;
    std::map<int64_t, std::vector<float>> pieces;
    std::vector<float> samples, feat, out[3];
    std::string pieceError;
    std::mutex errorLock;
    host.SetProStatus(0);

    for (int64_t f0 = 0; f0 < T; f0 += blockFrames) {
        if (stopped()) break;
        const int64_t f1 = std::min(T, f0 + blockFrames);
        const int64_t fa = std::max<int64_t>(0, f0 - kContext);
        const int64_t fb = std::min(T, f1 + kContext);
        const int64_t sa = fa * kHop - kFftSize / 2;
        const int64_t sb = (fb - 1) * kHop + kFftSize / 2;

        // 1. The 16 kHz pieces under the block's frames.
        const int64_t firstPiece = std::max<int64_t>(0, sa) / P;
        const int64_t lastPiece = std::min<int64_t>(N, sb) > 0 ? (std::min<int64_t>(N, sb) - 1) / P : -1;
        pieces.erase(pieces.begin(), pieces.lower_bound(firstPiece));
        std::vector<int64_t> missing;
        for (int64_t p = firstPiece; p <= lastPiece; ++p)
            if (!pieces.count(p)) missing.push_back(p);
        std::vector<float*> targets;
        for (int64_t p : missing) {
            pieces[p].resize(size_t(P));
            targets.push_back(pieces[p].data());
        }
        group.runItems(missing.size(), [&](size_t i, size_t) {
            if (stopped()) return;
            std::string error;
            if (!resampler.piece(missing[i], targets[i], error)) {
                std::lock_guard<std::mutex> lock(errorLock);
                pieceError = error;
            }
        });
        if (!pieceError.empty()) {
            // The converter's own (English) text stays out of the message.
            result.error = "Die Umrechnung auf 16000 Hz ist fehlgeschlagen.";
            return result;
        }
        samples.assign(size_t(sb - sa), 0.0f);
        for (int64_t p = firstPiece; p <= lastPiece; ++p) {
            const int64_t from = std::max(sa, p * P), to = std::min({sb, (p + 1) * P, N});
            if (to > from)
                std::copy(pieces[p].begin() + (from - p * P), pieces[p].begin() + (to - p * P),
                          samples.begin() + (from - sa));
        }
        clock.lap(result.times.resample, result.times.resampleCpu);

        // 2. Features of frames [fa, fb), one row per bin.
        const size_t featStride = size_t(fb - fa);
        feat.resize(size_t(kFeatureBins) * featStride);
        const int64_t featureItems = (fb - fa + kFramesPerFeatureItem - 1) / kFramesPerFeatureItem;
        group.runItems(size_t(featureItems), [&](size_t i, size_t) {
            if (stopped()) return;
            const int64_t t = fa + int64_t(i) * kFramesPerFeatureItem;
            const int n = int(std::min<int64_t>(kFramesPerFeatureItem, fb - t));
            extractor.compute(samples.data(), sa, t, n, feat.data() + (t - fa), featStride);
        });
        clock.lap(result.times.features, result.times.featuresCpu);

        // 3. The network, tile by tile.
        const size_t outStride = size_t(f1 - f0);
        for (auto& o : out) o.resize(size_t(kKeys) * outStride);
        const int64_t tiles = (f1 - f0 + Network::tileFrames() - 1) / Network::tileFrames();
        group.runItems(size_t(tiles), [&](size_t i, size_t part) {
            if (stopped()) return;
            const int64_t t0 = f0 + int64_t(i) * Network::tileFrames();
            const int n = int(std::min<int64_t>(Network::tileFrames(), f1 - t0));
            network.runTile(*scratch[part], feat.data(), featStride, fa, T, t0, n, out[0].data(), out[1].data(),
                            out[2].data(), outStride, f0);
        });
        clock.lap(result.times.network, result.times.networkCpu);
        if (stopped()) break;

        // 4. Notes.
        if (options.outputs) options.outputs(f0, int(f1 - f0), out[0].data(), out[1].data(), out[2].data(), outStride);
        decoder.add(f0, int(f1 - f0), out[0].data(), out[1].data(), out[2].data(), outStride);
        clock.lap(result.times.decode, result.times.decodeCpu);
        host.SetProStatus(int32_t(f1 * 100 / T));
    }
    if (stopped()) {
        result.cancelled = true;
        return result;
    }
    result.notes = decoder.finish(T);
    clock.lap(result.times.decode, result.times.decodeCpu);
    host.SetProStatus(100);
    return result;
}

Transcription Recogniser::transcribe(const AudioDocument& doc, OperationHost& host, const std::atomic<bool>* cancel,
                                     const TranscribeOptions& options) const {
    Transcription t;
    if (!ready_) {
        t.error = message_;
        return t;
    }
    try {
        t = TranscribeRecording(doc, model_, host, cancel, options);
    } catch (const std::bad_alloc&) {
        t = Transcription();
        t.error = "Nicht genug Speicher für die Analyse";
    }
    return t;
}

AccurateOutcome Recogniser::convert(const AudioDocument& doc, const std::string& fileName, OperationHost& host,
                                    const std::atomic<bool>& cancel, unsigned threads, const NotesWriter& write,
                                    std::vector<TranscribedNote>* notesOut, const AccurateTuning& tuning) const {
    AccurateOutcome outcome;
    if (doc.byteCount == 0 || !doc.sampleData) {
        outcome.message = kMidiFileErrorText;
        return outcome;
    }
    if (!ready_) {
        outcome.result = AccurateResult::ModelError;
        outcome.message = message_;
        return outcome;
    }
    TranscribeOptions options;
    options.threads = threads;
    const DecodeSettings decode = WithOverrides(model_.decode, tuning.overrides);
    options.decode = &decode;
    if (tuning.keep) {
        *tuning.keep = NetworkOutputs();
        options.outputs = [&](int64_t t0, int count, const float* on, const float* fr, const float* ve, size_t stride) {
            tuning.keep->add(t0, count, on, fr, ve, stride);
        };
    }
    if (tuning.keptSettings) *tuning.keptSettings = model_.decode;
    Transcription t = transcribe(doc, host, &cancel, options);
    outcome.frames = t.frames;
    outcome.times = t.times;
    if (t.cancelled || !t.error.empty()) {
        outcome.result = t.cancelled ? AccurateResult::Cancelled : AccurateResult::Failed;
        outcome.message = t.cancelled ? kCancelledText : t.error;
        host.SetProStatus(0);
        return outcome;
    }
    Stopwatch clock;
    const bool written = write ? write(t.notes, fileName) : WriteNotesAsMIDI(t.notes, fileName);
    clock.lap(outcome.times.write, outcome.times.writeCpu);
    outcome.result = written ? AccurateResult::Written : AccurateResult::FileError;
    if (!written) outcome.message = kMidiFileErrorText;
    outcome.notes = int64_t(t.notes.size());
    if (written && notesOut) *notesOut = std::move(t.notes);
    host.SetProStatus(0);
    return outcome;
}

}  // namespace notavox::recognition
