// Reads back the notes of a partwise MusicXML file as the tests need them:
// per note its staff, voice, MIDI pitch, onset and duration in quarter
// notes and ties; enough of the format for the program's own files and what
// the notation program writes back.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace notavox::testing {

struct ReadNote {
    int staff = 1, voice = 1;
    int pitch = -1;  // -1: a rest
    double onset = 0, duration = 0;  // quarter notes
    bool tieStart = false, tieStop = false, chord = false, triplet = false;
    int measure = 0;
};

struct ReadScore {
    std::vector<ReadNote> notes;  // rests too
    int measures = 0;
    std::vector<std::string> clefs;      // "G" or "F" per <clef>, in order
    std::vector<std::string> times;      // "3/4" per <time>
    std::vector<double> tempos;          // <sound tempo="...">
    int fifths = 0;
    std::vector<std::string> accidentals;
    int staves = 1;
};

inline std::string Inner(const std::string& xml, const std::string& tag, size_t from = 0, size_t to = std::string::npos) {
    const size_t a = xml.find("<" + tag + ">", from);
    if (a == std::string::npos || a >= to) return std::string();
    const size_t b = xml.find("</" + tag + ">", a);
    return xml.substr(a + tag.size() + 2, b - a - tag.size() - 2);
}

inline bool Has(const std::string& xml, const std::string& text, size_t from, size_t to) {
    const size_t a = xml.find(text, from);
    return a != std::string::npos && a < to;
}

// Element by element through each measure of the first part.
inline ReadScore ReadMusicXml(const std::string& xml) {
    ReadScore out;
    double divisions = 1, measureStart = 0;
    size_t pos = 0;
    const size_t partEnd = xml.find("</part>");
    for (;;) {
        const size_t m = xml.find("<measure", pos);
        if (m == std::string::npos || m > partEnd) break;
        const size_t mEnd = xml.find("</measure>", m);
        ++out.measures;
        double at = 0, last = 0, longest = 0;
        size_t p = m;
        for (;;) {
            const size_t lt = xml.find('<', p + 1);
            if (lt == std::string::npos || lt >= mEnd) break;
            auto element = [&](const std::string& name) { return xml.compare(lt, name.size() + 1, "<" + name) == 0 &&
                                                                 (xml[lt + name.size() + 1] == '>' || xml[lt + name.size() + 1] == ' '); };
            if (element("note")) {
                const size_t e = xml.find("</note>", lt);
                ReadNote n;
                n.measure = out.measures;
                n.chord = Has(xml, "<chord/>", lt, e);
                const double d = std::atof(Inner(xml, "duration", lt, e).c_str()) / divisions;
                if (Has(xml, "<pitch>", lt, e)) {
                    static const std::map<std::string, int> steps{{"C", 0}, {"D", 2}, {"E", 4}, {"F", 5},
                                                                  {"G", 7}, {"A", 9}, {"B", 11}};
                    const std::string alter = Inner(xml, "alter", lt, e);
                    n.pitch = (std::atoi(Inner(xml, "octave", lt, e).c_str()) + 1) * 12 +
                              steps.at(Inner(xml, "step", lt, e)) + (alter.empty() ? 0 : std::atoi(alter.c_str()));
                }
                const std::string acc = Inner(xml, "accidental", lt, e);
                if (!acc.empty()) out.accidentals.push_back(acc);
                const std::string staff = Inner(xml, "staff", lt, e), voice = Inner(xml, "voice", lt, e);
                if (!staff.empty()) n.staff = std::atoi(staff.c_str());
                if (!voice.empty()) n.voice = std::atoi(voice.c_str());
                n.tieStart = Has(xml, "<tie type=\"start\"/>", lt, e);
                n.tieStop = Has(xml, "<tie type=\"stop\"/>", lt, e);
                n.triplet = Has(xml, "<time-modification>", lt, e);
                if (!Has(xml, "<grace", lt, e)) {
                    n.onset = measureStart + (n.chord ? last : at);
                    n.duration = d;
                    if (!n.chord) {
                        last = at;
                        at += d;
                    }
                    out.notes.push_back(n);
                }
                p = e;
            } else if (element("backup") || element("forward")) {
                const size_t e = xml.find(element("backup") ? "</backup>" : "</forward>", lt);
                const double d = std::atof(Inner(xml, "duration", lt, e).c_str()) / divisions;
                at += element("backup") ? -d : d;
                p = e;
            } else if (element("attributes")) {
                const size_t e = xml.find("</attributes>", lt);
                const std::string div = Inner(xml, "divisions", lt, e);
                if (!div.empty()) divisions = std::atof(div.c_str());
                const std::string fifths = Inner(xml, "fifths", lt, e);
                if (!fifths.empty()) out.fifths = std::atoi(fifths.c_str());
                const std::string staves = Inner(xml, "staves", lt, e);
                if (!staves.empty()) out.staves = std::atoi(staves.c_str());
                if (Has(xml, "<time", lt, e))
                    out.times.push_back(Inner(xml, "beats", lt, e) + "/" + Inner(xml, "beat-type", lt, e));
                for (size_t c = xml.find("<clef", lt); c != std::string::npos && c < e; c = xml.find("<clef", c + 1))
                    out.clefs.push_back(Inner(xml, "sign", c, e));
                p = e;
            } else if (element("sound")) {
                const size_t q = xml.find("tempo=\"", lt);
                if (q != std::string::npos && q < xml.find('>', lt)) out.tempos.push_back(std::atof(xml.c_str() + q + 7));
                p = lt;
            } else {
                p = lt;
            }
            longest = std::max(longest, at);
        }
        measureStart += longest;
        pos = mEnd;
    }
    return out;
}

// The notes with their tied pieces joined: (staff, pitch, onset, whole duration).
inline std::vector<ReadNote> JoinTies(const std::vector<ReadNote>& notes) {
    std::vector<ReadNote> out;
    std::map<std::pair<int, int>, size_t> open;  // (staff*1000+voice, pitch) -> index
    for (const ReadNote& n : notes) {
        if (n.pitch < 0) continue;
        const std::pair<int, int> key{n.staff * 1000 + n.voice, n.pitch};
        auto it = open.find(key);
        if (n.tieStop && it != open.end()) {
            out[it->second].duration += n.duration;
            if (!n.tieStart) open.erase(it);
            continue;
        }
        out.push_back(n);
        if (n.tieStart) open[key] = out.size() - 1;
    }
    return out;
}

}  // namespace notavox::testing
