"""Scores a trained recogniser, one score per instrument family: note onset F1 with mir_eval (onset within
50 ms, pitch within 50 cents, offsets ignored), and picks the decoding thresholds.

Validation sets, all played by a sound font training never used: the generated validation batches, the
written pieces (pieces.py) and excerpts of the real pieces of the validation side (realmusic.py: as rendered,
through MP3 at 128 kbit/s, and their melodies and bass lines played by other instruments). The thresholds are
picked on the written pieces played by two of the training fonts, so that no validation set has a say in them.

Beside onset F1, what a musician hears: recall and precision per octave (C1 is MIDI 24 to 35), the missed
notes from C5 up that come out an octave low or high or are absent, and onset+offset F1 (offset within 20 %
of the note's length or 50 ms, the reference offset being when the sound ends, pedal included).

    python3 evaluate.py DATA_DIR CHECKPOINT [--tune OUT.json] [--decode DECODE.json] [--details OUT.md]
    python3 evaluate.py DATA_DIR recognition/model/notes.nvm ...   (a weights file, with its decoding)
"""
import argparse
import glob
import itertools
import json
import os
import subprocess
import tempfile

import mir_eval
import numpy as np
import torch
from scipy.io import wavfile

import features
import model as model_mod
import music
import pieces
import realmusic
import render

TUNING_FONTS = [f"{render.SF3}/MuseScore_General_Full.sf3", f"{render.SF2}/TimGM6mb.sf2"]


def load_pieces(path):
    d = np.load(path)
    feat, bounds, notes = d["feat"], d["bounds"], d["notes"]
    pieces = []
    for idx, (a, b) in enumerate(bounds):
        rows = notes[notes[:, 0] == idx]
        length = (b - a) * 0.01
        rows = rows[rows[:, 2] < length - 0.05]
        pieces.append((feat[a:b].astype(np.float32), rows))
    return pieces


def outputs(net, feat):
    with torch.no_grad():
        out = net(torch.from_numpy(feat)[None])
    return {k: torch.sigmoid(v[0]).numpy() for k, v in out.items()}


def intervals(ref_rows, sounding=False):
    """Reference intervals and pitches (Hz) of note rows; with `sounding` the offsets are when the sound
    ends (the sixth column, where the data has it)."""
    if not len(ref_rows):
        return np.zeros((0, 2)), np.zeros(0)
    off = ref_rows[:, 5] if sounding and ref_rows.shape[1] > 5 else ref_rows[:, 3]
    return (np.stack([ref_rows[:, 2], np.maximum(off, ref_rows[:, 2] + 0.01)], 1),
            mir_eval.util.midi_to_hz(ref_rows[:, 1]))


def estimated(est):
    if not est:
        return np.zeros((0, 2)), np.zeros(0)
    e = np.array(est, np.float64)
    return np.stack([e[:, 1], np.maximum(e[:, 2], e[:, 1] + 0.01)], 1), mir_eval.util.midi_to_hz(e[:, 0])


OCTAVES = list(range(0, 9))  # octave n: MIDI 12 (n + 1) to 12 (n + 1) + 11 (C4 = 60)


class Details:
    """Counts over many pieces: per octave, octave errors, onset+offset matches."""

    def __init__(self):
        self.ref = np.zeros(len(OCTAVES), np.int64)
        self.est = np.zeros(len(OCTAVES), np.int64)
        self.hit_ref = np.zeros(len(OCTAVES), np.int64)
        self.hit_est = np.zeros(len(OCTAVES), np.int64)
        self.high_missed = {"absent": 0, "octave low": 0, "octave high": 0}
        self.with_offsets = 0
        self.total_ref = 0
        self.total_est = 0

    def add(self, ref_rows, est):
        ref_iv, ref_p = intervals(ref_rows)
        est_iv, est_p = estimated(est)
        ref_m = np.round(mir_eval.util.hz_to_midi(ref_p)).astype(int) if len(ref_p) else np.zeros(0, int)
        est_m = np.round(mir_eval.util.hz_to_midi(est_p)).astype(int) if len(est_p) else np.zeros(0, int)
        self.total_ref += len(ref_m)
        self.total_est += len(est_m)
        for m, counts in ((ref_m, self.ref), (est_m, self.est)):
            for o in np.clip(m // 12 - 1, 0, len(OCTAVES) - 1):
                counts[o] += 1
        if not len(ref_m) or not len(est_m):
            matched = []
        else:
            matched = mir_eval.transcription.match_notes(ref_iv, ref_p, est_iv, est_p, onset_tolerance=0.05,
                                                         pitch_tolerance=50.0, offset_ratio=None)
        got_ref = {i for i, _ in matched}
        got_est = {j for _, j in matched}
        for i in got_ref:
            self.hit_ref[min(max(ref_m[i] // 12 - 1, 0), len(OCTAVES) - 1)] += 1
        for j in got_est:
            self.hit_est[min(max(est_m[j] // 12 - 1, 0), len(OCTAVES) - 1)] += 1
        spare = [j for j in range(len(est_m)) if j not in got_est]
        for i in range(len(ref_m)):
            if i in got_ref or ref_m[i] < 72:
                continue
            near = [est_m[j] - ref_m[i] for j in spare if abs(est_iv[j, 0] - ref_iv[i, 0]) <= 0.05]
            kind = "octave low" if -12 in near else "octave high" if 12 in near else "absent"
            self.high_missed[kind] += 1
        if len(ref_m) and len(est_m):
            sound_iv, _ = intervals(ref_rows, sounding=True)
            self.with_offsets += len(mir_eval.transcription.match_notes(
                sound_iv, ref_p, est_iv, est_p, onset_tolerance=0.05, pitch_tolerance=50.0, offset_ratio=0.2,
                offset_min_tolerance=0.05))

    def offset_f1(self):
        p = self.with_offsets / max(1, self.total_est)
        r = self.with_offsets / max(1, self.total_ref)
        return 2 * p * r / (p + r) if p + r > 0 else 0.0

    def lines(self, title):
        out = [f"{title}: onset+offset F1 {self.offset_f1():.3f}; missed from C5 up: "
               + ", ".join(f"{v} {k}" for k, v in self.high_missed.items())]
        head = "| octave    | " + " | ".join(f"C{o}" for o in OCTAVES) + " |"
        out += [head, "|" + "---|" * (len(OCTAVES) + 1)]
        out.append("| notes     | " + " | ".join(str(int(v)) for v in self.ref) + " |")
        out.append("| recall    | " + " | ".join(f"{h / n:.2f}" if n else "-" for h, n in zip(self.hit_ref, self.ref))
                   + " |")
        out.append("| precision | " + " | ".join(f"{h / n:.2f}" if n else "-" for h, n in zip(self.hit_est, self.est))
                   + " |")
        return out


def details(families, decode):
    """Family -> Details of the decoded outputs."""
    result = {}
    for fam, items in families.items():
        d = Details()
        for rows, o in items:
            d.add(rows, model_mod.decode(o["onset"], o["frame"], o["velocity"], **decode))
        result[fam] = d
    return result


def f1(ref_rows, est):
    ref_iv = np.stack([ref_rows[:, 2], np.maximum(ref_rows[:, 3], ref_rows[:, 2] + 0.01)], 1) if len(ref_rows) \
        else np.zeros((0, 2))
    ref_p = mir_eval.util.midi_to_hz(ref_rows[:, 1]) if len(ref_rows) else np.zeros(0)
    if est:
        e = np.array(est, np.float64)
        est_iv = np.stack([e[:, 1], np.maximum(e[:, 2], e[:, 1] + 0.01)], 1)
        est_p = mir_eval.util.midi_to_hz(e[:, 0])
    else:
        est_iv, est_p = np.zeros((0, 2)), np.zeros(0)
    if len(ref_p) == 0 and len(est_p) == 0:
        return 1.0, 1.0, 1.0
    if len(ref_p) == 0 or len(est_p) == 0:
        return 0.0, 0.0, 0.0
    p, r, f, _ = mir_eval.transcription.precision_recall_f1_overlap(ref_iv, ref_p, est_iv, est_p,
                                                                    onset_tolerance=0.05, pitch_tolerance=50.0,
                                                                    offset_ratio=None)
    return p, r, f


def play_events(events, font, path):
    """MIDI events (seconds, message fields) played by `font` into the 44.1 kHz WAV file `path`; the file
    appears only once it is whole."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        music.write_midi(events, os.path.join(tmp, "p.mid"))
        subprocess.run(["fluidsynth", "-ni", "-q", "-g", "0.6", "-r", "44100", "-T", "wav", "-F",
                        path + ".tmp.wav", font, os.path.join(tmp, "p.mid")],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.replace(path + ".tmp.wav", path)


def render_written(piece, program, lowest, font, folder):
    """The written piece played by `font` with `program`, as 44.1 kHz 16-bit samples (cached in `folder`)."""
    name = f"{piece}-{program}-{lowest}-{os.path.splitext(os.path.basename(font))[0]}.wav"
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        events = [(0.0, {"type": "program_change", "channel": 0, "program": program})]
        for p, a, b, v in pieces.notes(piece, lowest):
            events.append((a, {"type": "note_on", "channel": 0, "note": p, "velocity": v}))
            events.append((b, {"type": "note_off", "channel": 0, "note": p, "velocity": 0}))
        play_events(events, font, path)
    return wavfile.read(path)


def written_families(net, font, folder, piano_programs=(0,)):
    """Family -> [(note rows, outputs)] of the written pieces played by `font`; with more than one piano
    program, each is a family of its own ("piano 1", ...)."""
    families = {}
    for fam, items in pieces.SETS.items():
        programs = piano_programs if fam == "piano" else (None,)
        for program in programs:
            key = fam if program in (None, piano_programs[0]) else f"{fam} {program}"
            for piece, prog, lowest in items:
                rate, audio = render_written(piece, prog if program is None else program, lowest, font, folder)
                feat = features.features_from_samples(audio, rate).astype(np.float32)
                rows = np.array([(0, p, a, b, v) for p, a, b, v in pieces.notes(piece, lowest)], np.float64)
                families.setdefault(key, []).append((rows, outputs(net, feat)))
    return families


TUNING_EXCERPTS = 12


def real_tuning(net, font, folder):
    """Excerpts of real pieces of the training side played by `font` (GM piano, no augmentation), for picking
    the decoding thresholds: [(note rows, outputs)]."""
    import random
    items = []
    for i, (_, path, start, seconds) in enumerate(render.real_items(random.Random(77), "train", TUNING_EXCERPTS,
                                                                    30.0, 0.0)):
        name = f"real{i:02d}-{os.path.splitext(os.path.basename(font))[0]}.wav"
        wav = os.path.join(folder, name)
        notes, events = realmusic.excerpt(path, start, seconds)
        notes = music.remove_overlaps(notes)
        for n in notes:
            events.append((n.onset, {"type": "note_on", "channel": 0, "note": n.pitch, "velocity": n.velocity}))
            events.append((n.offset, {"type": "note_off", "channel": 0, "note": n.pitch, "velocity": 0}))
        if not os.path.exists(wav):
            play_events(events, font, wav)
        rate, audio = wavfile.read(wav)
        feat = features.features_from_samples(audio, rate).astype(np.float32)
        rows = np.array([(0, n.pitch, n.onset, n.offset, n.velocity) for n in notes], np.float64).reshape(-1, 5)
        items.append((rows, outputs(net, feat)))
    return items


def score(families, decode):
    result = {}
    for fam, items in families.items():
        scores = [f1(rows, model_mod.decode(o["onset"], o["frame"], o["velocity"], **decode)) for rows, o in items]
        result[fam] = tuple(float(np.mean([s[i] for s in scores])) for i in range(3))
    return result


# Registers with thresholds of their own (key ranges: A0 to B1, then an octave each from C2, C7 to C8).
REGISTERS = [(0, 15), (15, 27), (27, 39), (39, 51), (51, 63), (63, 75), (75, 88)]
REGISTER_ONSETS = [0.1, 0.15, 0.2, 0.25, 0.3, 0.35, 0.4, 0.5]
REGISTER_FRAMES = [0.15, 0.2, 0.25, 0.3, 0.35, 0.4, 0.5]
REGISTER_LEAST = [1, 2, 3]
REGISTER_NOTES = 20
WIDE_INTERVALS = (12, 19, 24, 28, 31)  # the second to sixth partial


def register_hits(rows, notes):
    """Notes of `notes` matched by reference rows (onset within 50 ms, same pitch)."""
    if not len(rows) or not notes:
        return 0
    ref_iv, ref_p = intervals(rows)
    est_iv, est_p = estimated([n[:4] for n in notes])
    return len(mir_eval.transcription.match_notes(ref_iv, ref_p, est_iv, est_p, onset_tolerance=0.05,
                                                  pitch_tolerance=50.0, offset_ratio=None))


def pick_registers(tuning, decode):
    """The decoding with onset and note-active thresholds and a minimum length per register, picked on `tuning`
    (family -> [(note rows, outputs)]) from the lowest register up: for each, the settings that give the
    register's own notes the best F1 over all pieces together (the notes every family adds there count against
    it); the registers below decode as already picked (the overtone rule looks at their notes). The register's
    own F1 and not the whole piece's: the outer registers hold few notes, which the whole piece's F1 hardly sees.
    A register's settings are never stricter than those of `decode` for every key (the search over the whole
    pieces set those; a register's few notes do not make them stricter), and a register with fewer than
    REGISTER_NOTES notes keeps them."""
    on_key, frame_key, least_key = model_mod.key_settings(**decode)
    on_key, frame_key, least_key = on_key.copy(), frame_key.copy(), list(least_key)
    # the values as picked (the file stores them in single precision)
    on_list = list(decode.get("key_onset_threshold") or [decode["onset_threshold"]] * 88)
    frame_list = list(decode.get("key_frame_threshold") or [decode["frame_threshold"]] * 88)
    rule = decode.get("overtone_ratio", 0.0) > 0
    reach = max(decode.get("overtone_intervals", model_mod.OVERTONE_INTERVALS))
    for a, b in REGISTERS:
        items = []  # (family, the register's rows, outputs, the notes below it)
        for fam, pieces_ in tuning.items():
            for rows, o in pieces_:
                below = model_mod.key_notes(o["onset"], o["frame"], o["velocity"], range(max(0, a - reach), a),
                                            on_key, frame_key, least_key) if rule else []
                inside = rows[(rows[:, 1] >= 21 + a) & (rows[:, 1] < 21 + b)] if len(rows) else rows
                items.append((fam, inside, o, below))
        if sum(len(inside) for _, inside, _, _ in items) < REGISTER_NOTES:
            continue  # too few notes to pick anything: the thresholds for every key hold
        best = None
        for on, fr in itertools.product([v for v in REGISTER_ONSETS if v <= decode["onset_threshold"]],
                                        [v for v in REGISTER_FRAMES if v <= decode["frame_threshold"]]):
            on_try, frame_try = on_key.copy(), frame_key.copy()
            on_try[a:b], frame_try[a:b] = on, fr
            found = []
            for fam, inside, o, below in items:
                notes = model_mod.key_notes(o["onset"], o["frame"], o["velocity"], range(a, b), on_try, frame_try,
                                            [1] * 88)
                found.append((fam, inside, notes, below))
            for least in [v for v in REGISTER_LEAST if v <= decode["min_frames"]]:
                tally = [0, 0, 0]  # hits, reference notes, notes found
                for fam, inside, notes, below in found:
                    kept = [n for n in notes if round(n[2] * 100) - n[4] >= least]
                    if rule:
                        kept = drop_overtones_of(kept, below, decode)
                    tally[0] += register_hits(inside, kept)
                    tally[1] += len(inside)
                    tally[2] += len(kept)
                value = 2 * tally[0] / (tally[1] + tally[2])
                if best is None or value > best[0] + 1e-12:
                    best = (value, on, fr, least)
        _, on, fr, least = best
        on_key[a:b], frame_key[a:b] = on, fr
        on_list[a:b], frame_list[a:b], least_key[a:b] = [on] * (b - a), [fr] * (b - a), [least] * (b - a)
    picked = dict(decode)
    picked["key_onset_threshold"] = on_list
    picked["key_frame_threshold"] = frame_list
    picked["key_min_frames"] = least_key
    return picked


def describe(decode):
    """The decoding as one line: the settings for every key, then those of each register."""
    text = json.dumps({k: v for k, v in decode.items() if k not in model_mod.KEY_SETTINGS})
    if any(decode.get(k) is not None for k in model_mod.KEY_SETTINGS):
        on_key, frame_key, least_key = model_mod.key_settings(**decode)
        text += "; per register (onset, note active, frames): " + ", ".join(
            f"{NOTE_NAMES[(21 + a) % 12]}{(21 + a) // 12 - 1} {on_key[a]:.2f} {frame_key[a]:.2f} {least_key[a]}"
            for a, _ in REGISTERS)
    return text


NOTE_NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]


def drop_overtones_of(notes, below, decode):
    return model_mod.drop_overtones(notes, below + notes, decode["overtone_ratio"], decode.get("overtone_frames", 0),
                                    decode.get("overtone_velocity", 0.0),
                                    decode.get("overtone_intervals", model_mod.OVERTONE_INTERVALS))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("data")
    ap.add_argument("checkpoint")
    ap.add_argument("--tune")
    ap.add_argument("--decode")
    ap.add_argument("--details", help="write per-octave and offset tables (Markdown) to this file")
    args = ap.parse_args()
    torch.set_num_threads(2)
    decode = {"onset_threshold": 0.5, "frame_threshold": 0.3, "min_frames": 2}
    if args.checkpoint.endswith(".nvm"):
        net, decode = model_mod.read_weights(args.checkpoint)
    else:
        net = model_mod.from_checkpoint(torch.load(args.checkpoint)["model"])
    net = net.to(memory_format=torch.channels_last)
    net.eval()
    folder = os.path.join(args.data, "written")
    generated, real = {}, {}
    for path in sorted(glob.glob(os.path.join(args.data, "valid_*.npz"))):
        name = os.path.basename(path)[6:-4]
        if name.startswith("real") or name == "lines":
            info = json.loads(str(np.load(path)["info"]))
            for (feat, rows), inf in zip(load_pieces(path), info):
                key = {"real": "piano", "real_mp3": "piano, MP3 128"}.get(name, "lines " + inf["families"][0])
                real.setdefault(key, []).append((rows, outputs(net, feat)))
        else:
            generated[name] = [(rows, outputs(net, feat)) for feat, rows in load_pieces(path)]
    written = written_families(net, render.VALID_FONT, folder, piano_programs=(0, 1))
    if args.decode:
        decode = json.load(open(args.decode))
    if args.tune:
        tuning = {}
        for font in TUNING_FONTS:
            for fam, items in written_families(net, font, folder).items():
                tuning.setdefault(fam, []).extend(items)
            tuning.setdefault("real piano", []).extend(real_tuning(net, font, folder))

        def total(d):
            return np.mean([v[2] for v in score(tuning, d).values()])
        best = None
        rules = [(0.0, 0, 0.0)] + [(ratio, frames, loud) for ratio, frames in
                                   [(0.7, 2), (0.8, 2), (0.9, 2), (0.7, 3), (0.8, 3), (0.9, 3), (1.0, 3)]
                                   for loud in (0.0, 0.95, 1.0)]
        for on, fr, least, (ratio, frames, loud) in itertools.product(
                [0.1, 0.15, 0.2, 0.25, 0.3, 0.35, 0.4], [0.2, 0.3, 0.4], [2, 3], rules):
            d = {"onset_threshold": on, "frame_threshold": fr, "min_frames": least, "overtone_ratio": ratio,
                 "overtone_frames": frames, "overtone_velocity": loud}
            t = total(d)
            if best is None or t > best[0]:
                best = (t, d)
        decode = best[1]
        print(f"decoding picked on the written pieces and real excerpts of the training side played by the "
              f"training fonts (mean F1 {best[0]:.3f})")
        # Then thresholds per register, with the overtone rule also looking for the fifth and sixth partial (the
        # false notes high up that lower thresholds let in); taken when the mean F1 does not fall.
        wide = dict(decode, overtone_intervals=list(WIDE_INTERVALS)) if decode["overtone_ratio"] > 0 else decode
        registers = pick_registers(tuning, wide)
        t = total(registers)
        if t >= best[0]:
            decode = registers
            print(f"thresholds per register picked on the same pieces (mean F1 {t:.3f})")
        else:
            print(f"thresholds per register not taken (mean F1 {t:.3f})")
        with open(args.tune, "w") as fh:
            json.dump(decode, fh, indent=1)
    print("decoding:", describe(decode))
    report = []
    for title, families in (("generated pieces", generated), ("written pieces", written),
                            ("real pieces (validation side)", real)):
        if not families:
            continue
        s = score(families, decode)
        print(f"{title}, {os.path.basename(render.VALID_FONT)}:")
        for fam, (p, r, f) in s.items():
            print(f"  {fam:14s} precision {p:.3f} recall {r:.3f} onset F1 {f:.3f}")
        print(f"  {'mean':14s} onset F1 {np.mean([v[2] for v in s.values()]):.3f}", flush=True)
        for fam, d in details(families, decode).items():
            report += d.lines(f"{title}, {fam}") + [""]
    print("\n".join(report))
    if args.details:
        with open(args.details, "w") as fh:
            fh.write("\n".join(report) + "\n")


if __name__ == "__main__":
    main()
