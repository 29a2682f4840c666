"""Scores a trained recogniser on the validation batches (a sound font training never used), one score per
instrument family: note onset F1 with mir_eval (onset within 50 ms, pitch within 50 cents, offsets
ignored), and picks the decoding thresholds.

    python3 evaluate.py DATA_DIR CHECKPOINT [--tune OUT.json] [--decode DECODE.json]
"""
import argparse
import glob
import json
import os

import mir_eval
import numpy as np
import torch

import model as model_mod


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
    families = {}
    for path in sorted(glob.glob(os.path.join(args.data, "valid_*.npz"))):
        fam = os.path.basename(path)[6:-4]
        families[fam] = [(rows, outputs(net, feat)) for feat, rows in load_pieces(path)]
    decode = {"onset_threshold": 0.5, "frame_threshold": 0.3, "min_frames": 2}
    if args.decode:
        decode = json.load(open(args.decode))
    if args.tune:
        best = None
        # piano counts twice: it is what the recogniser is for above all
        weights = {"piano": 2.0}
        for on in [0.05, 0.07, 0.1, 0.15, 0.2, 0.3, 0.4, 0.5, 0.6]:
            for fr in [0.1, 0.2, 0.3, 0.4]:
                for mf in [1, 2, 3]:
                    d = {"onset_threshold": on, "frame_threshold": fr, "min_frames": mf}
                    s = score(families, d)
                    total = sum(weights.get(k, 1.0) * v[2] for k, v in s.items())
                    if best is None or total > best[0]:
                        best = (total, d)
        # then the overtone rule on top of the best thresholds
        for ratio in [0.6, 0.7, 0.8, 0.9]:
            for frames in [1, 2, 3]:
                d = dict(best[1], overtone_ratio=ratio, overtone_frames=frames)
                s = score(families, d)
                total = sum(weights.get(k, 1.0) * v[2] for k, v in s.items())
                if total > best[0]:
                    best = (total, d)
        decode = best[1]
        with open(args.tune, "w") as fh:
            json.dump(decode, fh, indent=1)
    s = score(families, decode)
    print("decoding:", json.dumps(decode))
    for fam, (p, r, f) in s.items():
        print(f"{fam:8s} precision {p:.3f} recall {r:.3f} onset F1 {f:.3f}")
    print(f"mean     onset F1 {np.mean([v[2] for v in s.values()]):.3f}")


if __name__ == "__main__":
    main()
