#include "transcription/MidiFile.h"

#include <bit>
#include <cstring>

#include "audio/SafeFile.h"

namespace notavox {

uint32_t SwapBytes32(uint32_t v) {
    if constexpr (std::endian::native == std::endian::big) return v;
    return __builtin_bswap32(v);
}

uint16_t SwapBytes16(uint16_t v) {
    if constexpr (std::endian::native == std::endian::big) return v;
    return __builtin_bswap16(v);
}

void WriteVarLen(std::string& out, uint32_t v) {
    const uint32_t g4 = (v >> 28) & 0x0F;
    const uint32_t g3 = (v >> 21) & 0x7F;
    const uint32_t g2 = (v >> 14) & 0x7F;
    const uint32_t g1 = (v >> 7) & 0x7F;
    const uint32_t g0 = v & 0x7F;
    bool higher = false;
    if (g4 != 0) {
        out.push_back(char(g4 + 128));
        higher = true;
    }
    for (uint32_t g : {g3, g2, g1}) {
        if (g != 0 || higher) {
            out.push_back(char(g + 128));
            higher = true;
        }
    }
    out.push_back(char(g0));
}

namespace {

void put32(std::string& out, uint32_t v) {
    const uint32_t be = SwapBytes32(v);
    out.append(reinterpret_cast<const char*>(&be), 4);
}
void put16(std::string& out, uint16_t v) {
    const uint16_t be = SwapBytes16(v);
    out.append(reinterpret_cast<const char*>(&be), 2);
}

void writeTrack(std::string& out, const TDynaArray& track) {
    out.append("MTrk", 4);
    const size_t lengthAt = out.size();
    put32(out, 0);
    for (int32_t i = 0; i < track.count(); ++i) {
        const NoteEvent& e = *static_cast<const NoteEvent*>(track.element(i));
        WriteVarLen(out, e.time);
        if (e.kind == kMetaEvent) {
            out.push_back(char(0xFF));
            out.push_back(char(e.metaType));
            out.push_back(char(e.dataLength));
        } else {
            out.push_back(char(e.kind * 16 + e.channel));
        }
        const uint8_t* d = eventData(e);
        if (e.dataLength > 0 && d) out.append(reinterpret_cast<const char*>(d), e.dataLength);
        else if (e.dataLength > 0) out.append(e.dataLength, '\0');
    }
    const uint32_t length = SwapBytes32(uint32_t(out.size() - lengthAt - 4));
    std::memcpy(&out[lengthAt], &length, 4);
}

}  // namespace

std::string BuildMIDIFile(Song& song) {
    std::string out;
    size_t events = 0;
    for (int32_t t = 0; t < song.trackCount(); ++t) events += size_t(song.track(t)->count());
    out.reserve(14 + 8 * size_t(song.trackCount()) + 6 * events);
    out.append("MThd", 4);
    put32(out, 6);
    song.format = song.trackCount() > 1 ? 1 : 0;
    put16(out, song.format);
    put16(out, uint16_t(song.trackCount()));
    put16(out, song.division);
    for (int32_t t = 0; t < song.trackCount(); ++t) writeTrack(out, *song.track(t));
    return out;
}

bool SaveAsMIDI(Song& song, const std::string& fileName, int* error) {
    SafeFile file;
    bool ok = file.open(fileName);
    if (ok) {
        const std::string bytes = BuildMIDIFile(song);
        file.write(bytes.data(), bytes.size());
        ok = file.commit();
    }
    if (error) *error = ok ? 0 : file.error();
    return ok;
}

}  // namespace notavox
