#include "sound/NoteSynth.h"

#include <fluidsynth.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace notavox {

std::vector<std::string> SoundFontSearchPaths() {
    return {"/usr/share/sounds/sf2/TimGM6mb.sf2", "/usr/share/sounds/sf2/default-GM.sf2",
            "/usr/share/sounds/sf3/default-GM.sf3"};
}

std::string FindSoundFont(const std::vector<std::string>& paths) {
    for (const std::string& p : paths)
        if (!p.empty() && ::access(p.c_str(), R_OK) == 0) return p;
    return std::string();
}

namespace {

// FluidSynth's own messages would go to the terminal; the program reports
// failures itself.
void quietLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
            fluid_set_log_function(level, nullptr, nullptr);
    });
}

struct Event {
    int64_t frame;  // in synthesiser frames
    int on;         // 0 off, 1 on: at one frame the offs come first
    int pitch;
    int velocity;
    bool operator<(const Event& o) const {
        if (frame != o.frame) return frame < o.frame;
        if (on != o.on) return on < o.on;
        return pitch < o.pitch;
    }
};

constexpr int kChunk = 256;             // frames rendered at a time
constexpr int64_t kMaxForward = 22050;  // a jump further ahead starts afresh

}  // namespace

struct NoteSynth::Impl {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    int32_t sourceRate = 0;
    int32_t synthRate = 0;
    std::vector<TranscribedNote> notes;
    std::vector<Event> events;
    size_t next = 0;      // the first event not yet sent
    int64_t position = 0; // the synthesiser frame the next render starts at
    // The last rendered chunk: frames [bufferStart, position).
    int64_t bufferStart = 0;
    float left[kChunk] = {};
    float right[kChunk] = {};
    bool started = false;

    ~Impl() {
        if (synth) delete_fluid_synth(synth);
        if (settings) delete_fluid_settings(settings);
    }

    int64_t toSynthFrame(double seconds) const { return int64_t(std::llround(seconds * synthRate)); }

    void send(const Event& e) {
        if (e.on) fluid_synth_noteon(synth, 0, e.pitch, e.velocity);
        else fluid_synth_noteoff(synth, 0, e.pitch);
    }

    // Silence, then the notes from synthesiser frame `frame` on.
    void seek(int64_t frame) {
        fluid_synth_all_sounds_off(synth, -1);
        fluid_synth_all_notes_off(synth, -1);
        position = frame;
        bufferStart = frame;
        next = size_t(std::lower_bound(events.begin(), events.end(), Event{frame, 0, -1, 0}) - events.begin());
        for (const TranscribedNote& n : notes)
            if (toSynthFrame(n.onset) < frame && toSynthFrame(n.offset) > frame)
                fluid_synth_noteon(synth, 0, n.pitch, std::clamp(n.velocity, 1, 127));
        started = true;
    }

    // Renders the next chunk, sending each event at its exact frame.
    void renderChunk() {
        bufferStart = position;
        int done = 0;
        while (done < kChunk) {
            while (next < events.size() && events[next].frame <= position + done) send(events[next++]);
            int n = kChunk - done;
            if (next < events.size()) n = int(std::min<int64_t>(n, events[next].frame - (position + done)));
            fluid_synth_write_float(synth, n, left + done, 0, 1, right + done, 0, 1);
            done += n;
        }
        position += kChunk;
    }
};

NoteSynth::NoteSynth() = default;
NoteSynth::~NoteSynth() = default;

bool NoteSynth::isOpen() const { return impl_ && impl_->synth; }

bool NoteSynth::open(const std::string& fontPath, int32_t sampleRate, const std::vector<TranscribedNote>& notes,
                     std::string& error) {
    quietLog();
    impl_ = std::make_unique<Impl>();
    Impl& m = *impl_;
    m.sourceRate = std::max<int32_t>(1, sampleRate);
    // FluidSynth renders between 8000 and 96000 Hz; recordings outside that
    // range are served from the nearest rate.
    m.synthRate = std::clamp<int32_t>(m.sourceRate, 8000, 96000);
    m.settings = new_fluid_settings();
    if (m.settings) {
        fluid_settings_setnum(m.settings, "synth.sample-rate", double(m.synthRate));
        fluid_settings_setnum(m.settings, "synth.gain", kGain);
        fluid_settings_setint(m.settings, "synth.reverb.active", 0);
        fluid_settings_setint(m.settings, "synth.chorus.active", 0);
        fluid_settings_setint(m.settings, "synth.cpu-cores", 1);
        m.synth = new_fluid_synth(m.settings);
    }
    if (!m.synth) {
        error = "Der Synthesizer für die Noten konnte nicht gestartet werden.";
        impl_.reset();
        return false;
    }
    if (fluid_synth_sfload(m.synth, fontPath.c_str(), 1) == FLUID_FAILED) {
        error = "Die Klangdatei " + fontPath + " konnte nicht geladen werden.";
        impl_.reset();
        return false;
    }
    fluid_synth_program_change(m.synth, 0, 0);
    m.notes = notes;
    for (const TranscribedNote& n : notes) {
        if (n.pitch < 0 || n.pitch > 127) continue;
        const int64_t on = m.toSynthFrame(n.onset);
        const int64_t off = std::max(on + 1, m.toSynthFrame(n.offset));
        m.events.push_back({on, 1, n.pitch, std::clamp(n.velocity, 1, 127)});
        m.events.push_back({off, 0, n.pitch, 0});
    }
    std::sort(m.events.begin(), m.events.end());
    return true;
}

void NoteSynth::frameAt(int64_t frame, float& left, float& right) {
    left = right = 0.0f;
    if (!isOpen() || frame < 0) return;
    Impl& m = *impl_;
    const int64_t f = m.synthRate == m.sourceRate ? frame : frame * m.synthRate / m.sourceRate;
    if (!m.started || f < m.bufferStart || f >= m.position + kMaxForward) {
        m.seek(f);
        m.renderChunk();
    }
    while (f >= m.position) m.renderChunk();
    left = m.left[f - m.bufferStart];
    right = m.right[f - m.bufferStart];
}

void NoteMixer::mix(int64_t frame, int16_t& left, int16_t& right) {
    if (source_ == PlaySource::Recording) return;
    float l = 0.0f, r = 0.0f;
    synth_.frameAt(frame, l, r);
    auto to16 = [](float v) { return int16_t(std::clamp(std::lround(v * 32767.0f), -32768L, 32767L)); };
    if (source_ == PlaySource::Notes) {
        left = to16(l);
        right = to16(r);
        return;
    }
    left = to16((float(left) / 32768.0f + l) * kMixLevel);
    right = to16((float(right) / 32768.0f + r) * kMixLevel);
}

}  // namespace notavox
