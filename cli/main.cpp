// notavox-convert: converts recordings to MIDI (or WAV) without a window,
// with the same code and the same bytes as the program's commands.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/Interrupt.h"
#include "audio/Parallel.h"
#include "audio/Recording.h"
#include "cli/ConvertJob.h"
#include "cli/Mp3Codecs.h"

using namespace notavox;
using namespace notavox::cli;

namespace {

const char* kHelp =
    "Aufruf:\n"
    "  notavox-convert EINGABE.wav AUSGABE.mid   Aufnahme in eine MIDI-Datei umwandeln\n"
    "  notavox-convert EINGABE.wav AUSGABE.wav   Aufnahme als WAV-Datei speichern\n"
    "  notavox-convert EINGABE.wav AUSGABE.mp3   Aufnahme als MP3-Datei speichern\n"
    "  notavox-convert EINGABE... -o ORDNER      mehrere Aufnahmen parallel umwandeln,\n"
    "                                            jede nach ORDNER/name.mid (mit --format\n"
    "                                            musicxml oder mxl als Notenblatt)\n"
    "  notavox-convert --accurate EINGABE.wav AUSGABE.mid\n"
    "  notavox-convert --accurate EINGABE.wav AUSGABE.musicxml\n"
    "                                            Noten als Notenblatt (MusicXML, .mxl\n"
    "                                            gepackt) mit der genauen Analyse\n"
    "  notavox-convert --accurate EINGABE... -o ORDNER\n"
    "                                            mit der genauen Analyse umwandeln\n"
    "\n"
    "Die Endung der Ausgabe bestimmt, was geschrieben wird (.mid oder .midi, .wav, .mp3,\n"
    ".musicxml oder .xml, .mxl).\n"
    "Eingaben sind WAV- oder MP3-Dateien (.mp3 in beliebiger Schreibweise).\n"
    "Die MIDI-Datei ist genau die, die \"Speichern als MID...\" im Programm schreibt:\n"
    "die Aufnahme wird in 8 Bit Mono gebracht (44100 Hz, falls sie nicht schon 8 Bit\n"
    "Mono ist), die Noten werden erkannt und als Datei mit 16 Spuren gespeichert.\n"
    "\n"
    "Mit --accurate erkennt ein trainiertes Notenmodell die Noten: auch Akkorde, zwei\n"
    "Hände und mehrere Instrumente, mit Anschlag und Länge jeder Note, unabhängig von\n"
    "der Lautstärke. Die Aufnahme wird dafür in Mono auf 16000 Hz gebracht. Dazu\n"
    "werden Tempo, Schläge, Takt und Tonart erkannt: die MIDI-Datei (16 Spuren, die\n"
    "Noten in Spur 1) hat eine Tempokarte, auf der jeder Schlag auf einer Viertel\n"
    "(bei 6/8 auf einer punktierten Viertel) und der erste Taktanfang auf einem\n"
    "Taktstrich liegt, dazu Taktart und Tonart, so dass Notenprogramme sie richtig\n"
    "lesen. Die Noten klingen trotzdem genau zu ihrer Zeit in der Aufnahme, außer sie\n"
    "werden auf ein Raster gezogen (--quantize). Ohne --accurate bleibt alles wie bei\n"
    "\"Speichern als MID...\". Das Modell (notes.nvm) liegt neben dem Programm oder in\n"
    "share/notavox.\n"
    "\n"
    "Ein Notenblatt (.musicxml, .xml oder .mxl) entsteht immer mit der genauen Analyse:\n"
    "Klavier in zwei Systemen (Violin- und Bassschlüssel, die Hände dort getrennt, wo\n"
    "ein Spieler sie trennen würde), eine einstimmige Melodie in einem System, die\n"
    "Notenwerte auf dem Raster der Taktart, Vorzeichen aus der Tonart und\n"
    "Tempoangaben, wo sich das Tempo um mehr als 8 % ändert.\n"
    "\n"
    "Optionen:\n"
    "  --accurate            genaue Analyse für MIDI-Ausgaben (siehe oben)\n"
    "  --tempo auto|BPM      nur mit --accurate: auto (Vorgabe) folgt den erkannten\n"
    "                        Schlägen; eine Zahl von 20 bis 300 gibt ein festes Tempo\n"
    "                        in Schlägen pro Minute, der erste Takt beginnt am Anfang\n"
    "                        der Aufnahme\n"
    "  --quantize RASTER     nur mit --accurate: Notenanfänge und -längen zum Raster\n"
    "                        ziehen: OFF (Vorgabe), 1/4, 1/8, 1/16, 1/8T, 1/16T\n"
    "                        (T: Triolen)\n"
    "  --quantize-strength PROZENT\n"
    "                        nur mit --accurate: wie weit die Noten zum Raster rücken,\n"
    "                        0 bis 100 (Vorgabe 100)\n"
    "  --sensitivity PROZENT nur mit --accurate: Empfindlichkeit der Notenerkennung,\n"
    "                        1 bis 99; je höher, desto mehr Notenanfänge werden\n"
    "                        erkannt (Vorgabe: die des Modells, wie im Programm)\n"
    "  --min-note MS         nur mit --accurate: kürzeste Note in Millisekunden,\n"
    "                        10 bis 2000 (Vorgabe: die des Modells); kürzere Noten\n"
    "                        werden verworfen\n"
    "  -o, --output ORDNER   Zielordner für mehrere Eingaben\n"
    "  --format mid|musicxml|mxl\n"
    "                        was -o schreibt: MIDI-Dateien (Vorgabe) oder\n"
    "                        Notenblätter\n"
    "  -q, --quiet           keine Fortschrittsanzeige und keine Zusammenfassung\n"
    "  --rate HZ             Samplefrequenz der MP3-Ausgabe (Vorgabe 44100):\n"
    "                        48000, 44100, 32000, 24000, 22050, 16000, 11025\n"
    "  --bitrate KBIT        Bitrate der MP3-Ausgabe in kBit/Sekunde (Vorgabe 128):\n"
    "                        8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160\n"
    "  -h, --help            diese Hilfe\n"
    "\n"
    "Rückgabewert: 0, wenn jede Datei umgewandelt wurde; 1, wenn eine Datei nicht\n"
    "umgewandelt werden konnte; 2 bei falschem Aufruf.\n";

// The progress of one job, read by the progress bar.
struct JobHost : OperationHost {
    std::atomic<int32_t> percent{0};
    void SetProStatus(int32_t p) override {
        if (p >= 0 && p <= 100 && p > percent.load()) percent.store(p);
    }
};

struct Job {
    std::string input;
    std::string output;
    JobHost host;
    std::atomic<bool> done{false};
    JobResult result;
};

void drawBar(const std::vector<std::unique_ptr<Job>>& jobs, bool final) {
    int64_t sum = 0;
    int finished = 0;
    for (const auto& j : jobs) {
        if (j->done.load()) {
            sum += 100;
            ++finished;
        } else {
            sum += j->host.percent.load();
        }
    }
    const int percent = int(sum / int64_t(jobs.size()));
    const int width = 30;
    const int filled = percent * width / 100;
    std::string bar(size_t(filled), '#');
    bar.append(size_t(width - filled), '-');
    std::fprintf(stderr, "\r[%s] %3d %%  %d/%zu", bar.c_str(), percent, finished, jobs.size());
    if (final) std::fprintf(stderr, "\r%*s\r", width + 24, "");
    std::fflush(stderr);
}

}  // namespace

// Creates the folder and the folders above it that are missing.
bool makeFolders(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return std::filesystem::is_directory(path, ec);
}

int main(int argc, char** argv) {
    // Ctrl+C, SIGTERM and SIGHUP remove the temporary files of the jobs.
    InstallInterruptCleanup();
    std::vector<std::string> inputs;
    std::string outDir;
    bool haveOutDir = false;
    std::string folderExtension = ".mid";
    bool formatGiven = false;
    bool quiet = false;
    bool accurate = false;
    TempoChoices tempo;
    recognition::DecodeOverrides decoding;
    std::string tempoFlag;  // the first of the flags that need --accurate
    Mp3Settings mp3;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "-q" || a == "--quiet") {
            quiet = true;
        } else if (a == "--accurate") {
            accurate = true;
        } else if (a == "-o" || a == "--output") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "notavox-convert: -o braucht einen Ordner\n");
                return 2;
            }
            outDir = argv[++i];
            haveOutDir = true;
        } else if (a == "--format") {
            // What -o writes: a MIDI file (the default) or a score.
            const std::string value = i + 1 < argc ? argv[++i] : "";
            std::string lower;
            for (char c : value) lower += char(std::tolower(static_cast<unsigned char>(c)));
            if (lower != "mid" && lower != "musicxml" && lower != "mxl") {
                std::fprintf(stderr, "notavox-convert: --format %s: erlaubt sind mid, musicxml, mxl\n",
                             value.empty() ? "ohne Wert" : value.c_str());
                return 2;
            }
            folderExtension = "." + lower;
            formatGiven = true;
        } else if (a == "--rate" || a == "--bitrate") {
            // The values of the "MP3 Ausgabe" lists, nothing else.
            const bool rate = a == "--rate";
            const std::string value = i + 1 < argc ? argv[++i] : "";
            const bool ok = rate ? ParseMp3OutputRate(value, mp3.outputRate) : ParseMp3BitRate(value, mp3.bitRate);
            if (!ok) {
                std::fprintf(stderr, "notavox-convert: %s %s: erlaubt sind %s\n", a.c_str(), value.c_str(),
                             rate ? AllowedMp3OutputRates().c_str() : AllowedMp3BitRates().c_str());
                return 2;
            }
        } else if (a == "--sensitivity" || a == "--min-note") {
            // The window's "Empfindlichkeit" and "Kürzeste Note", in their ranges.
            const std::string value = i + 1 < argc ? argv[++i] : "";
            const bool sensitivity = a == "--sensitivity";
            const int lo = sensitivity ? 1 : 10, hi = sensitivity ? 99 : 2000;
            char* end = nullptr;
            const long n = value.empty() ? 0 : std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < lo || n > hi) {
                std::fprintf(stderr, "notavox-convert: %s %s: erlaubt sind %d bis %d%s\n", a.c_str(),
                             value.empty() ? "ohne Wert" : value.c_str(), lo, hi,
                             sensitivity ? " (Prozent)" : " (Millisekunden)");
                return 2;
            }
            if (sensitivity) decoding.sensitivityPercent = int(n);
            else decoding.shortestNoteMs = int(n);
            if (tempoFlag.empty()) tempoFlag = a;
        } else if (a == "--tempo" || a == "--quantize" || a == "--quantize-strength") {
            const std::string value = i + 1 < argc ? argv[++i] : "";
            const char* allowed = "auto oder 20 bis 300 Schläge pro Minute";
            bool ok = false;
            if (a == "--tempo") {
                const std::optional<double> bpm = ParseTempoBpm(value);
                ok = bpm.has_value();
                tempo.tempoBpm = bpm.value_or(0);
            } else if (a == "--quantize") {
                const std::optional<QuantizeGrid> grid = ParseQuantizeGrid(value);
                ok = grid.has_value();
                tempo.grid = grid.value_or(QuantizeGrid::Off);
                allowed = "OFF, 1/4, 1/8, 1/16, 1/8T, 1/16T";
            } else {
                const std::optional<int> percent = ParseStrengthPercent(value);
                ok = percent.has_value();
                tempo.strengthPercent = percent.value_or(100);
                allowed = "0 bis 100 (Prozent)";
            }
            if (!ok) {
                std::fprintf(stderr, "notavox-convert: %s %s: erlaubt sind %s\n", a.c_str(),
                             value.empty() ? "ohne Wert" : value.c_str(), allowed);
                return 2;
            }
            if (tempoFlag.empty()) tempoFlag = a;
        } else if (a == "--") {
            for (++i; i < argc; ++i) inputs.push_back(argv[i]);
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "notavox-convert: unbekannte Option %s (Hilfe: notavox-convert --help)\n", a.c_str());
            return 2;
        } else {
            inputs.push_back(a);
        }
    }

    const bool scoreOutput = haveOutDir ? folderExtension != ".mid"
                                        : inputs.size() == 2 && OutputKindOf(inputs[1]) == OutputKind::Score;
    if (formatGiven && !haveOutDir) {
        std::fprintf(stderr, "notavox-convert: --format gilt nur mit -o (Hilfe: notavox-convert --help)\n");
        return 2;
    }
    if (!tempoFlag.empty() && !accurate && !scoreOutput) {
        std::fprintf(stderr, "notavox-convert: %s gilt nur mit --accurate (Hilfe: notavox-convert --help)\n",
                     tempoFlag.c_str());
        return 2;
    }

    std::vector<std::unique_ptr<Job>> jobs;
    if (haveOutDir) {
        if (inputs.empty()) {
            std::fprintf(stderr, "notavox-convert: keine Eingabedatei (Hilfe: notavox-convert --help)\n");
            return 2;
        }
        if (outDir.empty()) outDir = ".";
        if (!makeFolders(outDir)) {
            std::fprintf(stderr, "notavox-convert: %s: Konnte den Ordner nicht anlegen\n", outDir.c_str());
            return 1;
        }
        for (const std::string& in : inputs) {
            auto job = std::make_unique<Job>();
            job->input = in;
            job->output = outDir + (outDir.back() == '/' ? "" : "/") + NameWithoutExtension(in) + folderExtension;
            jobs.push_back(std::move(job));
        }
    } else {
        if (inputs.size() != 2) {
            std::fprintf(stderr, "notavox-convert: erwartet EINGABE AUSGABE oder EINGABE... -o ORDNER"
                                 " (Hilfe: notavox-convert --help)\n");
            return 2;
        }
        if (OutputKindOf(inputs[1]) == OutputKind::Unknown) {
            std::fprintf(stderr,
                         "notavox-convert: %s: Unbekannte Dateiendung (erwartet .mid, .wav, .mp3, .musicxml oder .mxl)\n",
                         inputs[1].c_str());
            return 2;
        }
        auto job = std::make_unique<Job>();
        job->input = inputs[0];
        job->output = inputs[1];
        jobs.push_back(std::move(job));
    }

    // Two inputs of the same name would write the same output.
    std::map<std::string, const Job*> targets;
    std::vector<Job*> runnable;
    for (auto& j : jobs) {
        const auto [first, fresh] = targets.emplace(j->output, j.get());
        if (!fresh) {
            j->result.message = "Ziel " + j->output + " wird schon von " + first->second->input + " geschrieben";
            j->result.aboutInput = true;
            j->done = true;
        } else {
            runnable.push_back(j.get());
        }
    }

    // The note model is read and checked once, before any job starts; a
    // model that cannot be had ends the run with its message.
    std::optional<recognition::Recogniser> recogniser;
    // Scores always come from the accurate analysis.
    if (std::any_of(runnable.begin(), runnable.end(), [&](const Job* j) {
            const OutputKind kind = OutputKindOf(j->output);
            return (accurate && kind == OutputKind::Midi) || kind == OutputKind::Score;
        })) {
        recogniser.emplace();
        if (!recogniser->ready()) {
            std::fprintf(stderr, "notavox-convert: %s\n", recogniser->message().c_str());
            return 1;
        }
    }
    const recognition::Recogniser* recognise = recogniser ? &*recogniser : nullptr;

    const Mp3Codecs codecs = MakeMp3Codecs(mp3);
    const unsigned cores = CoreCount();
    const unsigned workers = std::max(1u, std::min<unsigned>(cores, unsigned(runnable.size())));
    const unsigned detectionThreads = std::max(1u, cores / workers);
    const bool showBar = !quiet && ::isatty(STDERR_FILENO);
    const auto start = std::chrono::steady_clock::now();

    std::atomic<size_t> next{0};
    std::mutex printLock;
    auto worker = [&] {
        for (;;) {
            const size_t k = next.fetch_add(1);
            if (k >= runnable.size()) return;
            Job& j = *runnable[k];
            // A failure no step caught ends this job with a German message,
            // never the run with a library's own text.
            try {
                j.result = ConvertFile(j.input, j.output, j.host, codecs, detectionThreads, recognise, tempo, decoding);
            } catch (const std::bad_alloc&) {
                j.result = JobResult();
                j.result.message = "Nicht genug Speicher";
            } catch (const std::exception&) {
                j.result = JobResult();
                j.result.message = "Unerwarteter Fehler bei der Umwandlung";
            }
            j.done = true;
        }
    };
    // Without a single worker thread the jobs run here, one after the other.
    WorkerGroup pool;
    if (pool.start(workers, worker) == 0) worker();
    if (showBar) {
        for (;;) {
            bool all = true;
            for (auto& j : jobs) all = all && j->done.load();
            if (all) break;
            drawBar(jobs, false);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        drawBar(jobs, true);
    }
    pool.join();

    int failed = 0;
    int64_t notes = 0;
    for (auto& j : jobs) {
        if (!j->result.ok) {
            ++failed;
            const std::string& name = j->result.aboutInput ? j->input : j->output;
            std::fprintf(stderr, "%s: %s\n", name.c_str(), j->result.message.c_str());
        } else {
            notes += j->result.notes;
            if (!j->result.message.empty()) std::fprintf(stderr, "%s: %s\n", j->input.c_str(), j->result.message.c_str());
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!quiet) {
        std::fprintf(stderr, "%zu von %zu Dateien umgewandelt, %d fehlgeschlagen, %lld Noten, %.2f s\n",
                     jobs.size() - size_t(failed), jobs.size(), failed, static_cast<long long>(notes), seconds);
    }
    return failed == 0 ? 0 : 1;
}
