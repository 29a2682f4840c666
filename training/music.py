"""Random music for training the note recogniser.

Every piece is made from a seed alone: melodies, two hands, block and broken chords, fast runs, repeated
notes, sustain pedal, wide dynamics and tempo changes, for one instrument family or a mixture of two.
A piece is a list of notes in seconds plus the MIDI events that play it.
"""
import math
import random

# General MIDI programs per family, with the range each plays well (MIDI pitches).
FAMILIES = {
    "piano": {"programs": [0, 0, 0, 1, 1, 2, 3, 4, 5, 6, 7], "range": (21, 108), "poly": 6, "pedal": True},
    "guitar": {"programs": [24, 24, 25, 25, 26, 27, 28, 29, 30], "range": (40, 86), "poly": 5, "pedal": False},
    "strings": {"programs": [40, 41, 42, 43, 44, 45, 48, 48, 49, 49, 50, 51], "range": (28, 100), "poly": 4,
                "pedal": False},
    "winds": {"programs": [73, 73, 73, 72, 74, 75, 71, 68, 69, 70, 64, 65, 66, 56, 57, 60, 61], "range": (48, 96),
              "poly": 1, "pedal": False},
    "organ": {"programs": [16, 17, 18, 19, 20, 21], "range": (36, 96), "poly": 5, "pedal": False},
    "mallets": {"programs": [8, 9, 10, 11, 12, 13, 14, 15, 46], "range": (48, 96), "poly": 3, "pedal": False},
    "bass": {"programs": [32, 33, 34, 35, 36, 37, 38, 39], "range": (28, 60), "poly": 1, "pedal": False},
}

# How often each kind of piece is made: piano above all, then guitar, strings, winds, organ, mixtures of two.
PIECE_KINDS = [("piano", 34), ("guitar", 14), ("strings", 12), ("winds", 12), ("organ", 6), ("mallets", 3),
               ("bass", 2), ("mix", 17)]

MAJOR = [0, 2, 4, 5, 7, 9, 11]
MINOR = [0, 2, 3, 5, 7, 8, 10]
HARMONIC_MINOR = [0, 2, 3, 5, 7, 8, 11]


class Note:
    __slots__ = ("pitch", "onset", "offset", "velocity", "channel")

    def __init__(self, pitch, onset, offset, velocity, channel):
        self.pitch, self.onset, self.offset, self.velocity, self.channel = pitch, onset, offset, velocity, channel


def weighted(rng, table):
    """A value of a table of (value, weight) pairs, drawn by weight."""
    total = sum(w for _, w in table)
    r = rng.uniform(0, total)
    for v, w in table:
        r -= w
        if r <= 0:
            return v
    return table[-1][0]


class Scale:
    def __init__(self, rng):
        self.root = rng.randrange(12)
        self.steps = rng.choice([MAJOR, MAJOR, MINOR, HARMONIC_MINOR, list(range(12)) if rng.random() < 0.1 else MAJOR])
        self.pitches = sorted(p for p in range(0, 128) if (p - self.root) % 12 in self.steps)

    def nearest_index(self, pitch):
        best = min(range(len(self.pitches)), key=lambda i: abs(self.pitches[i] - pitch))
        return best

    def chord(self, degree_pitch, size, spread):
        i = self.nearest_index(degree_pitch)
        out = []
        for n in range(size):
            j = i + 2 * n * spread
            if j < len(self.pitches):
                out.append(self.pitches[j])
        return out


class Clock:
    """Beats to seconds with a tempo that may change gradually."""

    def __init__(self, rng, beats):
        self.base = rng.uniform(55, 190)
        shape = rng.random()
        self.segments = []
        # tempo at beat b: piecewise linear over a few anchors
        anchors = [0.0]
        tempos = [self.base]
        if shape < 0.35:
            pass  # steady
        else:
            b = 0.0
            while b < beats:
                b += rng.uniform(8, 32)
                anchors.append(b)
                tempos.append(min(220.0, max(40.0, tempos[-1] * rng.uniform(0.75, 1.3))))
        self.anchors, self.tempos = anchors, tempos
        # cumulative seconds at each integer-ish step, sampled every 1/16 beat
        self.step = 1.0 / 16
        n = int(beats / self.step) + 64
        self.table = [0.0] * (n + 1)
        t = 0.0
        for i in range(n):
            self.table[i] = t
            t += 60.0 / self.tempo_at(i * self.step) * self.step
        self.table[n] = t

    def tempo_at(self, beat):
        a, tp = self.anchors, self.tempos
        if len(a) == 1 or beat <= a[0]:
            return tp[0]
        for i in range(1, len(a)):
            if beat <= a[i]:
                f = (beat - a[i - 1]) / (a[i] - a[i - 1])
                return tp[i - 1] + f * (tp[i] - tp[i - 1])
        return tp[-1]

    def seconds(self, beat):
        x = beat / self.step
        i = int(x)
        if i + 1 >= len(self.table):
            return self.table[-1]
        f = x - i
        return self.table[i] + f * (self.table[i + 1] - self.table[i])


def clamp(v, lo, hi):
    return lo if v < lo else hi if v > hi else v


def dynamics(rng, beats):
    """Velocity level over the piece: phrases from pp to ff, with swells."""
    points = []
    b = 0.0
    while b <= beats + 8:
        points.append((b, rng.uniform(18, 124)))
        b += rng.uniform(4, 16)

    def level(beat):
        for i in range(1, len(points)):
            if beat <= points[i][0]:
                f = (beat - points[i - 1][0]) / (points[i][0] - points[i - 1][0])
                return points[i - 1][1] + f * (points[i][1] - points[i - 1][1])
        return points[-1][1]
    return level


def part_notes(rng, family, scale, beats, channel, lo, hi, level, role):
    """Notes of one part in beats: (pitch, start beat, length beats, velocity)."""
    notes = []
    fam = FAMILIES[family]
    poly = fam["poly"]
    b = 0.0
    centre = rng.randint(lo + (hi - lo) // 4, hi - (hi - lo) // 4)
    while b < beats:
        phrase = rng.uniform(2, 8)
        end = min(beats, b + phrase)
        if role == "bass":
            pattern = rng.choice(["sustained", "walking", "repeated", "broken"])
        elif poly <= 1:
            pattern = rng.choice(["melody", "melody", "run", "repeated", "leaps"])
        else:
            pattern = rng.choice(["melody", "block", "block", "broken", "run", "repeated", "two_hand", "chord_melody"])
        unit = rng.choice([0.25, 0.5, 0.5, 1.0, 1.0, 2.0] if pattern != "run" else [0.125, 0.25, 0.25, 1.0 / 3])
        legato = rng.uniform(0.3, 1.05)
        while b < end:
            vel = int(clamp(level(b) + rng.gauss(0, 8), 1, 127))
            if pattern in ("melody", "leaps", "walking"):
                step = rng.choice([-2, -1, -1, 0, 1, 1, 2] if pattern != "leaps" else [-7, -5, -4, -3, 3, 4, 5, 7])
                i = clamp(scale.nearest_index(centre) + step, 0, len(scale.pitches) - 1)
                centre = clamp(scale.pitches[i], lo, hi)
                d = unit * rng.choice([1, 1, 1, 2, 0.5]) if rng.random() < 0.4 else unit
                notes.append((centre, b, d * legato, vel))
                b += d
            elif pattern == "run":
                direction = rng.choice([-1, 1])
                i = scale.nearest_index(centre)
                for _ in range(rng.randint(4, 16)):
                    i = clamp(i + direction, 0, len(scale.pitches) - 1)
                    p = scale.pitches[i]
                    if p < lo or p > hi:
                        direction = -direction
                        continue
                    notes.append((p, b, unit * legato, int(clamp(vel + rng.gauss(0, 6), 1, 127))))
                    b += unit
                centre = clamp(scale.pitches[i], lo, hi)
            elif pattern == "repeated":
                p = clamp(centre + rng.choice([0, 0, 2, -2]), lo, hi)
                for _ in range(rng.randint(2, 8)):
                    notes.append((p, b, unit * rng.uniform(0.3, 0.9), int(clamp(vel + rng.gauss(0, 10), 1, 127))))
                    b += unit
            elif pattern == "sustained":
                p = clamp(centre + rng.choice([-5, 0, 0, 7, -12]), lo, hi)
                d = rng.choice([1, 2, 4])
                notes.append((p, b, d * legato, vel))
                b += d
            elif pattern in ("block", "chord_melody"):
                size = rng.randint(2, max(2, poly))
                chord = [p for p in scale.chord(centre, size, rng.choice([1, 1, 2])) if lo <= p <= hi]
                d = rng.choice([0.5, 1, 1, 2, 4]) * (1 if unit >= 0.5 else 2)
                for p in chord:
                    jitter = rng.uniform(0, 0.03) if rng.random() < 0.5 else 0.0
                    notes.append((p, b + jitter, d * legato, int(clamp(vel + rng.gauss(0, 6), 1, 127))))
                if pattern == "chord_melody" and chord:
                    top = max(chord) + rng.choice([2, 3, 4, 5])
                    for k in range(int(d / 0.5)):
                        if top <= hi:
                            notes.append((top, b + k * 0.5, 0.45, int(clamp(vel + 10, 1, 127))))
                        top = clamp(top + rng.choice([-2, -1, 1, 2]), lo, hi)
                b += d
                centre = clamp(centre + rng.choice([-5, -3, -2, 2, 3, 4, 5]), lo, hi)
            elif pattern == "broken":
                chord = [p for p in scale.chord(centre, rng.randint(3, 4), 1) if lo <= p <= hi]
                if not chord:
                    chord = [centre]
                order = chord + chord[-2:0:-1] if rng.random() < 0.5 else chord
                sustain = rng.random() < 0.5
                for k, p in enumerate(order):
                    d = unit * (len(order) - k) if sustain else unit * legato
                    notes.append((p, b, d, int(clamp(vel + rng.gauss(0, 6), 1, 127))))
                    b += unit
                centre = clamp(centre + rng.choice([-5, -3, 2, 4, 5]), lo, hi)
            elif pattern == "two_hand":
                bass = clamp(centre - rng.choice([12, 17, 19, 24]), max(lo, 21), hi)
                d = rng.choice([1, 2])
                notes.append((bass, b, d * legato, int(clamp(vel - 5, 1, 127))))
                notes.append((clamp(bass + 7, lo, hi), b, d * legato, int(clamp(vel - 10, 1, 127))))
                t = b
                while t < b + d - 1e-9:
                    p = clamp(centre + rng.choice([-2, -1, 0, 1, 2, 3]), lo, hi)
                    i = scale.nearest_index(p)
                    notes.append((scale.pitches[i], t, unit * legato, int(clamp(vel + rng.gauss(5, 6), 1, 127))))
                    t += unit
                b += d
        if rng.random() < 0.3:
            b += rng.choice([0.5, 1, 2])  # a rest between phrases
    return notes


def make_piece(seed, seconds=30.0, kind=None):
    """One piece: returns (notes in seconds, midi events [(time_s, msg_dict)], info)."""
    rng = random.Random(seed)
    kind = kind or weighted(rng, PIECE_KINDS)
    families = [kind] if kind != "mix" else rng.sample(["piano", "guitar", "strings", "winds", "organ", "bass",
                                                        "mallets"], 2)
    scale = Scale(rng)
    beats_guess = seconds * 3.5
    clock = Clock(rng, beats_guess)
    level = dynamics(rng, beats_guess)
    events = []
    notes = []
    for part, family in enumerate(families):
        fam = FAMILIES[family]
        channel = part
        program = rng.choice(fam["programs"])
        lo, hi = fam["range"]
        if kind == "mix" and part == 1 and families[0] != "bass":
            role = "second"
        else:
            role = "bass" if family == "bass" else "lead"
        events.append((0.0, {"type": "program_change", "channel": channel, "program": program}))
        # piano parts sometimes split into two hands on two channels with the same program
        hands = [(lo, hi)]
        if family == "piano" and rng.random() < 0.6:
            split = rng.randint(52, 64)
            hands = [(lo + rng.randint(0, 12), split), (split, hi - rng.randint(0, 12))]
        for hand_lo, hand_hi in hands:
            beat_notes = part_notes(rng, family, scale, beats_guess, channel, hand_lo, hand_hi, level, role)
            for pitch, start, length, vel in beat_notes:
                on = clock.seconds(start)
                off = clock.seconds(start + max(length, 0.05))
                if on >= seconds:
                    continue
                off = min(off, seconds + 2.0)
                if off - on < 0.03:
                    off = on + 0.03
                notes.append(Note(int(pitch), on, off, int(vel), channel))
        if fam["pedal"] and rng.random() < 0.6:
            t = rng.uniform(0, 2)
            while t < seconds:
                down = rng.uniform(1, 4)
                events.append((t, {"type": "control_change", "channel": channel, "control": 64, "value": 127}))
                events.append((t + down, {"type": "control_change", "channel": channel, "control": 64, "value": 0}))
                t += down + rng.uniform(0.05, 3)
        if rng.random() < 0.3:
            events.append((0.0, {"type": "control_change", "channel": channel, "control": 7,
                                 "value": rng.randint(70, 127)}))
    notes = remove_overlaps(notes)
    for n in notes:
        events.append((n.onset, {"type": "note_on", "channel": n.channel, "note": n.pitch, "velocity": n.velocity}))
        events.append((n.offset, {"type": "note_off", "channel": n.channel, "note": n.pitch, "velocity": 0}))
    return notes, events, {"kind": kind, "families": families}


def remove_overlaps(notes):
    """A pitch sounds once per channel at a time: a new note of the same pitch ends the previous one."""
    notes.sort(key=lambda n: (n.channel, n.pitch, n.onset))
    out = []
    last = {}
    for n in notes:
        key = (n.channel, n.pitch)
        prev = last.get(key)
        if prev is not None:
            if n.onset - prev.onset < 0.04:
                continue  # too close to tell apart
            if prev.offset > n.onset - 0.005:
                prev.offset = n.onset - 0.005
        out.append(n)
        last[key] = n
    return out


def pedal_offsets(notes, events):
    """Sounding offsets: a note released while its channel's sustain pedal is down sounds until release."""
    pedal = {}
    for t, e in sorted(events, key=lambda x: x[0]):
        if e["type"] == "control_change" and e["control"] == 64:
            pedal.setdefault(e["channel"], []).append((t, e["value"] >= 64))
    result = []
    for n in notes:
        off = n.offset
        changes = pedal.get(n.channel)
        if changes:
            down = False
            for t, d in changes:
                if t > off:
                    if down and not d:
                        off = t
                    break
                down = d
            else:
                if down:
                    off = off + 2.0
        result.append(off)
    return result


def write_midi(events, path, ticks_per_beat=480, tempo=500000):
    """Writes the events (seconds) as a type-0 file at a fixed tempo (1 beat = 0.5 s)."""
    import mido
    mid = mido.MidiFile(ticks_per_beat=ticks_per_beat)
    track = mido.MidiTrack()
    mid.tracks.append(track)
    track.append(mido.MetaMessage("set_tempo", tempo=tempo, time=0))
    ticks_per_second = ticks_per_beat * 1e6 / tempo
    order = {"program_change": 0, "control_change": 1, "note_off": 2, "note_on": 3}
    last = 0
    for t, e in sorted(events, key=lambda x: (x[0], order[x[1]["type"]])):
        tick = int(round(t * ticks_per_second))
        msg = dict(e)
        kind = msg.pop("type")
        track.append(mido.Message(kind, time=tick - last, **msg))
        last = tick
    track.append(mido.MetaMessage("end_of_track", time=int(ticks_per_second)))
    mid.save(path)
