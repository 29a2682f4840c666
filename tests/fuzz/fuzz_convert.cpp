// Feeds arbitrary bytes to the converter as a WAV or an MP3 file and
// converts them to a MIDI file, as notavox-convert does. Whatever the bytes,
// the conversion must end with a result, never with a crash, a hang or an
// out-of-bounds access.
//
// Built with clang's libFuzzer (see CMakeLists.txt in this folder), or with
// replay_main.cpp into a program that runs the seed corpus once; the file
// extension is chosen at build time (NOTAVOX_FUZZ_EXT), and with
// NOTAVOX_FUZZ_ACCURATE the conversion is the accurate one (notavox-convert
// --accurate), with the note model beside the program.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/WavFile.h"
#include "cli/ConvertJob.h"
#include "cli/Mp3Codecs.h"
#include "recognition/Recogniser.h"

namespace {

std::string inputName() { return "input" NOTAVOX_FUZZ_EXT; }

char madeFolder[4096];

void removeFolder() {
    const std::string dir = madeFolder;
    std::remove((dir + "/" + inputName()).c_str());
    std::remove((dir + "/output.mid").c_str());
    ::rmdir(dir.c_str());
}

// The folder of this process's files; removed with them when the process ends.
const std::string& folder() {
    static const std::string f = [] {
        std::string tmpl = notavox::TempFolder() + "notavox-fuzz-XXXXXX";
        if (tmpl.size() >= sizeof madeFolder || !::mkdtemp(tmpl.data())) return std::string();
        std::snprintf(madeFolder, sizeof madeFolder, "%s", tmpl.c_str());
        std::atexit(removeFolder);
        return tmpl;
    }();
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const notavox::cli::Mp3Codecs codecs = notavox::cli::MakeMp3Codecs(notavox::cli::Mp3Settings{});
    if (folder().empty()) return 0;
    const std::string in = folder() + "/" + inputName();
    const std::string out = folder() + "/output.mid";
    if (FILE* f = std::fopen(in.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    notavox::OperationHost host;
#ifdef NOTAVOX_FUZZ_ACCURATE
    // Without the model every input would end at the same message.
    static const notavox::recognition::Recogniser recogniser = [] {
        notavox::recognition::Recogniser r;
        if (!r.ready()) {
            std::fprintf(stderr, "%s\n", r.message().c_str());
            std::abort();
        }
        return r;
    }();
    (void)notavox::cli::ConvertFile(in, out, host, codecs, 1, &recogniser);
#else
    (void)notavox::cli::ConvertFile(in, out, host, codecs, 1);
#endif
    std::remove(out.c_str());
    return 0;
}
