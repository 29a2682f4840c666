"""Real piano music for training and validation: the classical pieces of ../shared/data/piano-midi.

The pieces are MIDI files sequenced by hand by Bernd Krueger (piano-midi.de, licence CC BY-SA 3.0 Germany),
in the cleaned form of the ClassicalPianoMIDI-dataset collection. Training reads them from the shared folder
(NOTAVOX_PIANO_MIDI overrides where); nothing of them is copied into the repository.

The collection is split by work: every movement of a sonata, every piece of a set, lands on the same side.
An excerpt is a stretch of a piece with the pedal as it stands at its start; a line is the melody (the
highest note of each onset) or the bass (the lowest) of an excerpt, moved by octaves into the range of
another instrument.
"""
import csv
import functools
import os
import re

import music

HERE = os.path.dirname(os.path.abspath(__file__))
FOLDER = os.environ.get("NOTAVOX_PIANO_MIDI", os.path.join(HERE, "..", "..", "..", "shared", "data", "piano-midi"))
if not os.path.isdir(FOLDER):
    FOLDER = "/work/shared/data/piano-midi"

# Works on the validation side (keys as work() gives them): one or two per composer where the composer has
# several, with dense, pedalled, fast and plain textures among them.
VALID_WORKS = {"waldstein", "chpn_op25", "rav_eau", "schub_d760", "mendel_op30", "br_im", "alb_se", "scn15",
               "mz_330", "liz_et_trans"}


def work(stem):
    """The work a file belongs to: the name without its movement or piece number; sets by prefix."""
    for prefix in ("ty_", "burg_", "grieg_", "bk_xmas", "clementi_opus36"):
        if stem.startswith(prefix):
            return prefix.rstrip("_")
    return re.sub(r"([_-]e?\d+|\d+)$", "", stem)


@functools.lru_cache(maxsize=None)
def catalogue():
    """[(path, work, seconds)] of every piece listed in metadata.csv, in file order."""
    out = []
    with open(os.path.join(FOLDER, "metadata.csv"), newline="") as fh:
        for row in csv.DictReader(fh):
            stem = os.path.splitext(os.path.basename(row["midi"]))[0]
            out.append((os.path.join(FOLDER, row["midi"]), work(stem), float(row["duration"])))
    return out


def split(side):
    """The pieces of one side ("train" or "valid")."""
    return [c for c in catalogue() if (c[1] in VALID_WORKS) == (side == "valid")]


@functools.lru_cache(maxsize=8)
def read(path):
    """(notes, pedal changes [(s, down)]) of a file, every channel folded onto one piano."""
    import mido
    t = 0.0
    held = {}
    notes = []
    pedal = []
    for msg in mido.MidiFile(path):
        t += msg.time
        if msg.is_meta:
            continue
        if msg.type == "note_on" and msg.velocity > 0:
            held.setdefault(msg.note, []).append((t, msg.velocity))
        elif msg.type in ("note_on", "note_off"):
            if held.get(msg.note):
                on, vel = held[msg.note].pop(0)
                notes.append(music.Note(msg.note, on, max(t, on + 0.02), vel, 0))
        elif msg.type == "control_change" and msg.control == 64:
            pedal.append((t, msg.value >= 64))
    for pitch, rest in held.items():
        for on, vel in rest:
            notes.append(music.Note(pitch, on, t + 0.5, vel, 0))
    notes.sort(key=lambda n: (n.onset, n.pitch))
    return notes, pedal


def excerpt(path, start, seconds, channel=0, program=0, transpose=0):
    """Notes and events of [start, start + seconds) of a piece, in seconds from the excerpt's start.
    Every note sounding at the end is released there and the pedal lifted."""
    notes, pedal = read(path)
    end = start + seconds
    out = []
    for n in notes:
        if start <= n.onset < end and 21 <= n.pitch + transpose <= 108:
            out.append(music.Note(n.pitch + transpose, n.onset - start, min(n.offset, end) - start, n.velocity,
                                  channel))
    events = [(0.0, {"type": "program_change", "channel": channel, "program": program})]
    down = False
    for t, d in pedal:
        if t <= start:
            down = d
        elif t < end:
            events.append((t - start, {"type": "control_change", "channel": channel, "control": 64,
                                       "value": 127 if d else 0}))
    if down:
        events.append((0.001, {"type": "control_change", "channel": channel, "control": 64, "value": 127}))
    events.append((seconds, {"type": "control_change", "channel": channel, "control": 64, "value": 0}))
    return out, events


def line(notes, highest, lo, hi, channel, rng):
    """The melody (highest) or bass (lowest) of the notes as one voice, moved by octaves into [lo, hi]."""
    groups = []
    for n in sorted(notes, key=lambda n: n.onset):
        if groups and n.onset - groups[-1][0].onset < 0.03:
            groups[-1].append(n)
        else:
            groups.append([n])
    voice = [max(g, key=lambda n: n.pitch) if highest else min(g, key=lambda n: n.pitch) for g in groups]
    if not voice:
        return []
    pitches = sorted(n.pitch for n in voice)
    median = pitches[len(pitches) // 2]
    centre = (lo + hi) // 2 + rng.randint(-6, 6)
    shift = 12 * round((centre - median) / 12)
    out = []
    for i, n in enumerate(voice):
        p = n.pitch + shift
        while p < lo:
            p += 12
        while p > hi:
            p -= 12
        if not lo <= p <= hi:
            continue
        off = n.offset
        if i + 1 < len(voice):
            off = min(off, voice[i + 1].onset - 0.01)
        # a held tone of a wind or string player: a little longer than the key was held, at most to the next
        out.append(music.Note(p, n.onset, max(off, n.onset + 0.05), n.velocity, channel))
    return out


# Instruments that play the lines: (family, GM programs, range, melody or bass).
LINE_PARTS = [("flute", [73, 72, 74, 75], (60, 96), True), ("winds", [68, 69, 71, 65, 66, 56, 57, 60], (52, 88), True),
              ("strings", [40, 41, 48, 49], (55, 96), True), ("guitar", [24, 25, 26, 27], (40, 84), True),
              ("strings", [42, 43, 48], (28, 64), False), ("guitar", [24, 25], (40, 64), False),
              ("bass", [32, 33, 34, 35], (28, 55), False), ("winds", [70, 58, 67], (34, 65), False)]


def lines_excerpt(path, start, seconds, rng):
    """A melody, a bass line or both of an excerpt, each played by another instrument."""
    notes, _ = excerpt(path, start, seconds)
    mode = rng.choice(["melody", "melody", "bass", "both"])
    melodies = [p for p in LINE_PARTS if p[3]]
    basses = [p for p in LINE_PARTS if not p[3]]
    chosen = []
    if mode in ("melody", "both"):
        chosen.append(rng.choice(melodies))
    if mode in ("bass", "both"):
        chosen.append(rng.choice(basses))
    out, events, families = [], [], []
    for channel, (fam, programs, (lo, hi), highest) in enumerate(chosen):
        part = line(notes, highest, lo, hi, channel, rng)
        out.extend(part)
        events.append((0.0, {"type": "program_change", "channel": channel, "program": rng.choice(programs)}))
        families.append(fam)
    return out, events, families
