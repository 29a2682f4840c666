#include "notation/MusicXml.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <map>

#include "audio/SafeFile.h"

namespace notavox::notation {
namespace {

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

struct NoteType {
    const char* type;
    int dots;
};

// The written value of a duration in units; triplet members are two thirds
// of their written value.
NoteType TypeOf(int units, bool triplet) {
    if (triplet) units = units * 3 / 2;
    switch (units) {
        case 192: return {"breve", 0};
        case 144: return {"whole", 1};
        case 96: return {"whole", 0};
        case 72: return {"half", 1};
        case 48: return {"half", 0};
        case 36: return {"quarter", 1};
        case 24: return {"quarter", 0};
        case 18: return {"eighth", 1};
        case 12: return {"eighth", 0};
        case 9: return {"16th", 1};
        case 6: return {"16th", 0};
        case 3: return {"32nd", 0};
        default: return {nullptr, 0};
    }
}

const char* AccidentalName(int alter) {
    switch (alter) {
        case -2: return "flat-flat";
        case -1: return "flat";
        case 1: return "sharp";
        case 2: return "double-sharp";
        default: return "natural";
    }
}

// The alteration the key signature gives a step.
int KeyAlter(char step, int fifths) {
    static const std::string sharpOrder = "FCGDAEB";
    const int pos = int(sharpOrder.find(step));
    if (fifths > 0) return pos < fifths ? 1 : 0;
    if (fifths < 0) return 6 - pos < -fifths ? -1 : 0;
    return 0;
}

class Writer {
public:
    explicit Writer(const Score& s) : score_(s) {}

    std::string build() {
        out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
                "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
                "\"http://www.musicxml.org/dtds/partwise.dtd\">\n"
                "<score-partwise version=\"4.0\">\n";
        if (!score_.title.empty())
            out_ += "  <work>\n    <work-title>" + Escape(score_.title) + "</work-title>\n  </work>\n";
        out_ += "  <identification>\n    <encoding>\n      <software>Notavox</software>\n"
                "    </encoding>\n  </identification>\n"
                "  <part-list>\n    <score-part id=\"P1\">\n      <part-name>" +
                std::string(score_.staves == 2 ? "Klavier" : "Stimme") +
                "</part-name>\n      <score-instrument id=\"P1-I1\">\n        <instrument-name>" +
                std::string(score_.staves == 2 ? "Klavier" : "Stimme") +
                "</instrument-name>\n      </score-instrument>\n      <midi-instrument id=\"P1-I1\">\n"
                "        <midi-channel>1</midi-channel>\n        <midi-program>1</midi-program>\n"
                "      </midi-instrument>\n    </score-part>\n  </part-list>\n  <part id=\"P1\">\n";
        for (size_t k = 0; k < score_.bars.size(); ++k) measure(k);
        out_ += "  </part>\n</score-partwise>\n";
        return out_;
    }

private:
    void measure(size_t k) {
        const ScoreBar& bar = score_.bars[k];
        out_ += "    <measure number=\"" + std::to_string(k + 1) + "\">\n";
        const bool first = k == 0;
        bool clefs = false;
        for (const ScoreStaff& st : bar.staves) clefs = clefs || st.clefChanged;
        if (first || bar.newTime || clefs) {
            out_ += "      <attributes>\n";
            if (first) {
                out_ += "        <divisions>" + std::to_string(kUnitsPerQuarter) + "</divisions>\n";
                out_ += "        <key>\n          <fifths>" + std::to_string(score_.fifths) + "</fifths>\n";
                out_ += std::string("          <mode>") + (score_.minor ? "minor" : "major") + "</mode>\n        </key>\n";
            }
            if (first || bar.newTime)
                out_ += "        <time>\n          <beats>" + std::to_string(bar.beats) + "</beats>\n          <beat-type>" +
                        std::to_string(bar.beatType) + "</beat-type>\n        </time>\n";
            if (first && score_.staves == 2) out_ += "        <staves>2</staves>\n";
            for (size_t s = 0; s < bar.staves.size(); ++s) {
                if (!first && !bar.staves[s].clefChanged) continue;
                const bool g = bar.staves[s].clef.sign == 'G';
                out_ += "        <clef number=\"" + std::to_string(s + 1) + "\">\n          <sign>" +
                        (g ? "G" : "F") + "</sign>\n          <line>" + (g ? "2" : "4") + "</line>\n        </clef>\n";
            }
            out_ += "      </attributes>\n";
        }
        if (bar.tempoMark > 0) tempo(bar);
        bool firstVoice = true;
        for (size_t s = 0; s < bar.staves.size(); ++s) {
            for (const ScoreVoice& v : bar.staves[s].voices) {
                if (!firstVoice)
                    out_ += "      <backup>\n        <duration>" + std::to_string(bar.length) + "</duration>\n      </backup>\n";
                firstVoice = false;
                accidentals_.clear();
                twoVoices_ = bar.staves[s].voices.size() > 1;
                for (const ScoreEvent& e : v.events) event(e, v.number, int(s) + 1);
            }
        }
        out_ += "    </measure>\n";
    }

    void tempo(const ScoreBar& bar) {
        const bool compound = bar.beatType == 8 && bar.beats % 3 == 0;
        const double perMinute = compound ? bar.tempoMark * 2.0 / 3.0 : bar.tempoMark;
        char sound[32];
        std::snprintf(sound, sizeof sound, "%.2f", bar.tempoMark);
        out_ += "      <direction placement=\"above\">\n        <direction-type>\n          <metronome>\n"
                "            <beat-unit>quarter</beat-unit>\n";
        if (compound) out_ += "            <beat-unit-dot/>\n";
        out_ += "            <per-minute>" + std::to_string(std::lround(perMinute)) +
                "</per-minute>\n          </metronome>\n        </direction-type>\n";
        if (score_.staves == 2) out_ += "        <staff>1</staff>\n";
        out_ += "        <sound tempo=\"" + std::string(sound) + "\"/>\n      </direction>\n";
    }

    void event(const ScoreEvent& e, int voice, int staff) {
        const NoteType t = TypeOf(e.duration, e.triplet);
        const size_t count = std::max<size_t>(1, e.pitches.size());
        for (size_t i = 0; i < count; ++i) {
            // The second voice's rests only fill its bar: they are not printed.
            out_ += e.pitches.empty() && voice % 2 == 0 ? "      <note print-object=\"no\">\n" : "      <note>\n";
            if (i > 0) out_ += "        <chord/>\n";
            if (e.pitches.empty()) {
                out_ += e.wholeBarRest ? "        <rest measure=\"yes\"/>\n" : "        <rest/>\n";
            } else {
                const Pitch p = SpellPitch(e.pitches[i], score_.fifths, score_.minor);
                out_ += std::string("        <pitch>\n          <step>") + p.step + "</step>\n";
                if (p.alter != 0) out_ += "          <alter>" + std::to_string(p.alter) + "</alter>\n";
                out_ += "          <octave>" + std::to_string(p.octave) + "</octave>\n        </pitch>\n";
                pitch_ = p;
            }
            out_ += "        <duration>" + std::to_string(e.duration) + "</duration>\n";
            const bool tieStop = !e.pitches.empty() && e.tieStop[i];
            const bool tieStart = !e.pitches.empty() && e.tieStart[i];
            if (tieStop) out_ += "        <tie type=\"stop\"/>\n";
            if (tieStart) out_ += "        <tie type=\"start\"/>\n";
            out_ += "        <voice>" + std::to_string(voice) + "</voice>\n";
            if (!e.wholeBarRest && t.type) {
                out_ += std::string("        <type>") + t.type + "</type>\n";
                for (int d = 0; d < t.dots; ++d) out_ += "        <dot/>\n";
            }
            if (!e.pitches.empty()) accidental(tieStop);
            if (e.triplet)
                out_ += "        <time-modification>\n          <actual-notes>3</actual-notes>\n"
                        "          <normal-notes>2</normal-notes>\n        </time-modification>\n";
            if (!e.pitches.empty() && twoVoices_)
                out_ += std::string("        <stem>") + (voice % 2 == 1 ? "up" : "down") + "</stem>\n";
            if (score_.staves == 2) out_ += "        <staff>" + std::to_string(staff) + "</staff>\n";
            const bool tuplet = i == 0 && (e.tupletStart || e.tupletStop);
            if (tieStop || tieStart || tuplet) {
                out_ += "        <notations>\n";
                if (tieStop) out_ += "          <tied type=\"stop\"/>\n";
                if (tieStart) out_ += "          <tied type=\"start\"/>\n";
                if (i == 0 && e.tupletStart) out_ += "          <tuplet type=\"start\" bracket=\"yes\"/>\n";
                if (i == 0 && e.tupletStop) out_ += "          <tuplet type=\"stop\"/>\n";
                out_ += "        </notations>\n";
            }
            out_ += "      </note>\n";
        }
    }

    // An accidental where the note differs from what the key signature or an
    // earlier note of the bar (same step and octave, same voice) gives it.
    void accidental(bool tied) {
        const int key = (pitch_.step - 'A') * 16 + pitch_.octave;
        auto it = accidentals_.find(key);
        const int current = it != accidentals_.end() ? it->second : KeyAlter(pitch_.step, score_.fifths);
        if (pitch_.alter != current && !tied)
            out_ += std::string("        <accidental>") + AccidentalName(pitch_.alter) + "</accidental>\n";
        accidentals_[key] = pitch_.alter;
    }

    const Score& score_;
    std::string out_;
    Pitch pitch_;
    std::map<int, int> accidentals_;
    bool twoVoices_ = false;
};

void Put16(std::string& s, uint32_t v) {
    s += char(v & 0xFF);
    s += char((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

std::string Deflate(const std::string& data) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return std::string();
    std::string out(deflateBound(&z, uLong(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int r = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return r == Z_STREAM_END ? out : std::string();
}

}  // namespace

std::string BuildMusicXml(const Score& score) { return Writer(score).build(); }

std::string BuildMxl(const std::string& musicXml, const std::string& innerName) {
    struct Entry {
        std::string name, data;
        bool deflate;
    };
    const std::string container =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<container>\n  <rootfiles>\n    <rootfile full-path=\"" +
        Escape(innerName) + "\" media-type=\"application/vnd.recordare.musicxml+xml\"/>\n  </rootfiles>\n</container>\n";
    const Entry entries[] = {{"mimetype", "application/vnd.recordare.musicxml", false},
                             {"META-INF/container.xml", container, true},
                             {innerName, musicXml, true}};
    std::string zip, central;
    const uint32_t dosTime = 0, dosDate = (0 << 9) | (1 << 5) | 1;  // 1980-01-01
    uint16_t count = 0;
    for (const Entry& e : entries) {
        const uint32_t crc = uint32_t(crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(e.data.data()),
                                            uInt(e.data.size())));
        std::string body = e.deflate ? Deflate(e.data) : e.data;
        bool deflated = e.deflate && !body.empty();
        if (!deflated) body = e.data;
        // The fields the local header and the central directory's record
        // share, from the version needed to the extra field's length.
        const auto putEntryFields = [&](std::string& out) {
            Put16(out, 20);
            Put16(out, 0);
            Put16(out, deflated ? 8 : 0);
            Put16(out, dosTime);
            Put16(out, dosDate);
            Put32(out, crc);
            Put32(out, uint32_t(body.size()));
            Put32(out, uint32_t(e.data.size()));
            Put16(out, uint32_t(e.name.size()));
            Put16(out, 0);
        };
        const uint32_t offset = uint32_t(zip.size());
        Put32(zip, 0x04034b50);
        putEntryFields(zip);
        zip += e.name;
        zip += body;

        Put32(central, 0x02014b50);
        Put16(central, 20);
        putEntryFields(central);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, 0);
        Put32(central, offset);
        central += e.name;
        ++count;
    }
    const uint32_t centralOffset = uint32_t(zip.size());
    zip += central;
    Put32(zip, 0x06054b50);
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, count);
    Put16(zip, count);
    Put32(zip, uint32_t(central.size()));
    Put32(zip, centralOffset);
    Put16(zip, 0);
    return zip;
}

bool IsCompressedName(const std::string& fileName) {
    if (fileName.size() < 4) return false;
    std::string ext = fileName.substr(fileName.size() - 4);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".mxl";
}

bool SaveScore(const Score& score, const std::string& fileName, std::string* cause) {
    const std::string xml = BuildMusicXml(score);
    std::string inner = "score.musicxml";
    if (IsCompressedName(fileName)) {
        const size_t slash = fileName.rfind('/');
        std::string base = fileName.substr(slash == std::string::npos ? 0 : slash + 1);
        base.resize(base.size() - 4);
        if (!base.empty() && base.find_first_of("\\:") == std::string::npos) inner = base + ".musicxml";
    }
    const std::string bytes = IsCompressedName(fileName) ? BuildMxl(xml, inner) : xml;
    SafeFile file;
    const bool ok = file.open(fileName) && file.write(bytes.data(), bytes.size()) && file.commit();
    if (!ok && cause) *cause = SaveErrorText(file.error());
    return ok;
}

}  // namespace notavox::notation
