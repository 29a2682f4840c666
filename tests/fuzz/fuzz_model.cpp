// Feeds arbitrary bytes to the reader of the note model's weights file. A
// file the reader accepts must also be usable: its weights run over a short
// silent recording without a crash or an out-of-bounds access.
//
// Built with clang's libFuzzer (see CMakeLists.txt in this folder), or with
// replay_main.cpp into a program that runs the seed corpus once.
#include <cstdint>
#include <cstring>
#include <string>

#include "audio/AudioDocument.h"
#include "recognition/AccurateConversion.h"
#include "recognition/Model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const notavox::recognition::ModelLoad load = notavox::recognition::ParseModel(bytes, "fuzz.nvm");
    if (!load.ok) return 0;
    // A tenth of a second of silence at 16 kHz, 16-bit mono.
    static const notavox::AudioDocument silence = [] {
        notavox::AudioDocument doc;
        const size_t bytes = 1600 * 2;
        notavox::SampleBlock block = notavox::allocateBlock(bytes);
        std::memset(block.get(), 0, bytes);
        doc.replace(std::move(block), static_cast<int32_t>(bytes), 16000, false, true);
        return doc;
    }();
    notavox::OperationHost host;
    notavox::recognition::TranscribeOptions options;
    options.threads = 1;
    (void)notavox::recognition::TranscribeRecording(silence, load.model, host, nullptr, options);
    return 0;
}
