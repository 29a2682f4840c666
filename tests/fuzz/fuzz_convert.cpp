// Feeds arbitrary bytes to the converter as a WAV or an MP3 file and
// converts them to a MIDI file, as notavox-convert does. Whatever the bytes,
// the conversion must end with a result, never with a crash, a hang or an
// out-of-bounds access.
//
// Built with clang's libFuzzer (see CMakeLists.txt in this folder); the file
// extension is chosen at build time (NOTAVOX_FUZZ_EXT).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "audio/WavFile.h"
#include "cli/ConvertJob.h"
#include "cli/Mp3Codecs.h"

namespace {

const std::string& folder() {
    static const std::string f = [] {
        std::string base = notavox::TempFolder() + "/notavox-fuzz-" + std::to_string(::getpid());
        ::mkdir(base.c_str(), 0700);
        return base;
    }();
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const notavox::cli::Mp3Codecs codecs =
        notavox::cli::MakeMp3Codecs(notavox::cli::Mp3Settings{}, [](const std::string&, const std::string&) {});
    const std::string in = folder() + "/input" NOTAVOX_FUZZ_EXT;
    const std::string out = folder() + "/output.mid";
    if (FILE* f = std::fopen(in.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    notavox::OperationHost host;
    (void)notavox::cli::ConvertFile(in, out, host, codecs, 1);
    std::remove(out.c_str());
    return 0;
}
