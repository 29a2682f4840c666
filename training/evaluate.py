"""Scores a trained recogniser, one score per instrument family: note onset F1 with mir_eval (onset within
50 ms, pitch within 50 cents, offsets ignored), and picks the decoding thresholds.

Two validation sets: the generated validation batches and the written pieces (pieces.py), both played by
a sound font training never used. The thresholds are picked on the written pieces played by two of the
training fonts, so that neither validation set has a say in them.

    python3 evaluate.py DATA_DIR CHECKPOINT [--tune OUT.json] [--decode DECODE.json]
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


def render_written(piece, program, lowest, font, folder):
    """The written piece played by `font` with `program`, as 44.1 kHz 16-bit samples (cached in `folder`)."""
    name = f"{piece}-{program}-{lowest}-{os.path.splitext(os.path.basename(font))[0]}.wav"
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        os.makedirs(folder, exist_ok=True)
        events = [(0.0, {"type": "program_change", "channel": 0, "program": program})]
        for p, a, b, v in pieces.notes(piece, lowest):
            events.append((a, {"type": "note_on", "channel": 0, "note": p, "velocity": v}))
            events.append((b, {"type": "note_off", "channel": 0, "note": p, "velocity": 0}))
        with tempfile.TemporaryDirectory() as tmp:
            music.write_midi(events, os.path.join(tmp, "p.mid"))
            subprocess.run(["fluidsynth", "-ni", "-q", "-g", "0.6", "-r", "44100", "-T", "wav", "-F",
                            path + ".tmp.wav", font, os.path.join(tmp, "p.mid")],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.replace(path + ".tmp.wav", path)
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


def score(families, decode):
    result = {}
    for fam, items in families.items():
        scores = [f1(rows, model_mod.decode(o["onset"], o["frame"], o["velocity"], **decode)) for rows, o in items]
        result[fam] = tuple(float(np.mean([s[i] for s in scores])) for i in range(3))
    return result


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("data")
    ap.add_argument("checkpoint")
    ap.add_argument("--tune")
    ap.add_argument("--decode")
    args = ap.parse_args()
    torch.set_num_threads(2)
    net = model_mod.Recogniser().to(memory_format=torch.channels_last)
    net.load_state_dict(torch.load(args.checkpoint)["model"])
    net.eval()
    folder = os.path.join(args.data, "written")
    generated = {}
    for path in sorted(glob.glob(os.path.join(args.data, "valid_*.npz"))):
        fam = os.path.basename(path)[6:-4]
        generated[fam] = [(rows, outputs(net, feat)) for feat, rows in load_pieces(path)]
    written = written_families(net, render.VALID_FONT, folder, piano_programs=(0, 1))
    decode = {"onset_threshold": 0.5, "frame_threshold": 0.3, "min_frames": 2}
    if args.decode:
        decode = json.load(open(args.decode))
    if args.tune:
        tuning = {}
        for font in TUNING_FONTS:
            for fam, items in written_families(net, font, folder).items():
                tuning.setdefault(fam, []).extend(items)

        def total(d):
            return np.mean([v[2] for v in score(tuning, d).values()])
        best = None
        rules = [(0.0, 0, 0.0)] + [(ratio, frames, loud) for ratio, frames in
                                   [(0.7, 2), (0.8, 2), (0.9, 2), (0.7, 3), (0.8, 3), (0.9, 3), (1.0, 3)]
                                   for loud in (0.0, 0.95, 1.0)]
        for on, fr, (ratio, frames, loud) in itertools.product(
                [0.15, 0.2, 0.25, 0.3, 0.35, 0.4], [0.2, 0.3, 0.4], rules):
            d = {"onset_threshold": on, "frame_threshold": fr, "min_frames": 3, "overtone_ratio": ratio,
                 "overtone_frames": frames, "overtone_velocity": loud}
            t = total(d)
            if best is None or t > best[0]:
                best = (t, d)
        decode = best[1]
        with open(args.tune, "w") as fh:
            json.dump(decode, fh, indent=1)
        print(f"decoding picked on the written pieces played by the training fonts (mean F1 {best[0]:.3f})")
    print("decoding:", json.dumps(decode))
    for title, families in (("generated pieces", generated), ("written pieces", written)):
        s = score(families, decode)
        print(f"{title}, {os.path.basename(render.VALID_FONT)}:")
        for fam, (p, r, f) in s.items():
            print(f"  {fam:10s} precision {p:.3f} recall {r:.3f} onset F1 {f:.3f}")
        print(f"  {'mean':10s} onset F1 {np.mean([v[2] for v in s.values()]):.3f}")


if __name__ == "__main__":
    main()
