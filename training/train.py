"""Trains the recogniser on the rendered batches, resumable from a checkpoint.

    python3 train.py DATA_DIR CHECKPOINT_DIR [--steps N] [--lr LR] [--init CHECKPOINT --windows SEED]
                     [--widen WEIGHTS_FILE]

With --init the run starts from another run's weights (a second, shorter cycle of the learning rate over
other windows of the same data); with --widen it starts from a weights file's network with the new channels
added, computing at first exactly what that network computes.
"""
import argparse
import json
import os
import random
import time

import numpy as np
import torch
import torch.nn.functional as F

import model as model_mod

WINDOW = 256
MARGIN = 9
BATCH = 16
LOG_EVERY = int(os.environ.get("NOTAVOX_LOG_EVERY", "200"))


def frame_count(path):
    """Frames of a batch file, read from the header of its feature array alone."""
    import zipfile
    with zipfile.ZipFile(path) as z, z.open("feat.npy") as fh:
        version = np.lib.format.read_magic(fh)
        shape, _, _ = np.lib.format._read_array_header(fh, version)
    return shape[0]


def load(data_dir, prefix):
    """The batches' features and labels, end to end, and the [start, end) frames of the piano pieces.
    The arrays are allocated once at their full size: the data is several gigabytes."""
    import render
    names = [p["name"] for p in render.batch_plan() if p["name"].startswith(prefix)]
    limit = int(os.environ.get("NOTAVOX_TRAIN_BATCHES", len(names)))
    paths = [os.path.join(data_dir, n + ".npz") for n in names[:limit]]
    total = sum(frame_count(p) for p in paths)
    feat = np.empty((total, 294), np.float16)
    onset, frame, vel = (np.empty((total, 88), np.uint8) for _ in range(3))
    piano = []
    pos = 0
    for path in paths:
        d = np.load(path)
        n = len(d["feat"])
        feat[pos:pos + n] = d["feat"]
        onset[pos:pos + n] = d["onset"]
        frame[pos:pos + n] = d["frame"]
        vel[pos:pos + n] = d["velocity"]
        for (a, b), info in zip(d["bounds"], json.loads(str(d["info"]))):
            if info["families"] == ["piano"] and b - a > WINDOW:
                piano.append((pos + int(a), pos + int(b)))
        pos += n
    return feat, onset, frame, vel, np.array(piano, np.int64).reshape(-1, 2)


def losses(out, onset, frame, vel):
    sl = slice(MARGIN, -MARGIN)
    o, f, v = out["onset"][:, sl], out["frame"][:, sl], out["velocity"][:, sl]
    on, fr, ve = onset[:, sl], frame[:, sl], vel[:, sl]
    l_on = F.binary_cross_entropy_with_logits(o, on, pos_weight=torch.tensor(6.0))
    l_fr = F.binary_cross_entropy_with_logits(f, fr)
    mask = on > 0
    l_ve = ((torch.sigmoid(v) - ve) ** 2)[mask].mean() if mask.any() else torch.zeros(())
    return l_on, l_fr, l_ve


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("data")
    ap.add_argument("ckpt")
    ap.add_argument("--steps", type=int, default=6000)
    ap.add_argument("--lr", type=float, default=2e-3)
    ap.add_argument("--init", help="start from this checkpoint's weights")
    ap.add_argument("--widen", help="start from this weights file's network, widened to the current layers")
    ap.add_argument("--windows", type=int, default=1234, help="seed of the windows of step 0")
    ap.add_argument("--piano", type=float, default=0.0, help="share of the windows taken from piano pieces")
    args = ap.parse_args()
    torch.set_num_threads(2)
    torch.manual_seed(7)
    os.makedirs(args.ckpt, exist_ok=True)
    feat, onset, frame, vel, piano = load(args.data, "train_")
    total = len(feat)
    if args.piano > 0 and len(piano) == 0:
        ap.error("--piano: the data has no piano pieces")
    # window starts inside the piano pieces, laid end to end
    piano_room = np.cumsum(piano[:, 1] - piano[:, 0] - WINDOW)
    print(f"training frames: {total} ({total / 360000:.2f} h)", flush=True)

    net = model_mod.Recogniser().to(memory_format=torch.channels_last)
    opt = torch.optim.Adam(net.parameters(), lr=args.lr)
    step = 0
    path = os.path.join(args.ckpt, "last.pt")
    if os.path.exists(path):
        state = torch.load(path)
        net.load_state_dict(state["model"])
        opt.load_state_dict(state["opt"])
        step = state["step"]
        print(f"resumed at step {step}", flush=True)
    elif args.init:
        net.load_state_dict(torch.load(args.init)["model"])
        print(f"starting from {args.init}", flush=True)
    elif args.widen:
        net = model_mod.widen(model_mod.read_weights(args.widen)[0]).to(memory_format=torch.channels_last)
        opt = torch.optim.Adam(net.parameters(), lr=args.lr)
        print(f"starting from {args.widen}, widened", flush=True)
    n_params = sum(p.numel() for p in net.parameters())
    print(f"parameters: {n_params}", flush=True)

    started = time.time()
    acc = np.zeros(3)
    while step < args.steps:
        # the windows of a step come from the step number alone, so a resumed run sees the same data
        rng = np.random.default_rng(args.windows + step)
        starts = rng.integers(0, total - WINDOW, BATCH)
        if args.piano > 0:
            chosen = rng.random(BATCH) < args.piano
            at = rng.integers(0, piano_room[-1], BATCH)
            piece = np.searchsorted(piano_room, at, side="right")
            inside = at - np.concatenate([[0], piano_room])[piece]
            starts = np.where(chosen, piano[piece, 0] + inside, starts)
        x = torch.from_numpy(np.stack([feat[s:s + WINDOW] for s in starts]).astype(np.float32))
        on = torch.from_numpy(np.stack([onset[s:s + WINDOW] for s in starts]).astype(np.float32))
        fr = torch.from_numpy(np.stack([frame[s:s + WINDOW] for s in starts]).astype(np.float32))
        ve = torch.from_numpy(np.stack([vel[s:s + WINDOW] for s in starts]).astype(np.float32) / 127.0)
        # cosine learning rate with a short warm-up
        lr = args.lr * min(1.0, (step + 1) / 300) * (0.05 + 0.95 * 0.5 * (1 + np.cos(np.pi * step / args.steps)))
        for g in opt.param_groups:
            g["lr"] = lr
        out = net(x)
        l_on, l_fr, l_ve = losses(out, on, fr, ve)
        loss = l_on + l_fr + 0.5 * l_ve
        opt.zero_grad()
        loss.backward()
        opt.step()
        step += 1
        acc += [l_on.item(), l_fr.item(), l_ve.item()]
        if step % LOG_EVERY == 0:
            rate = LOG_EVERY * BATCH * WINDOW / (time.time() - started)
            print(f"step {step} onset {acc[0] / LOG_EVERY:.4f} frame {acc[1] / LOG_EVERY:.4f} vel {acc[2] / LOG_EVERY:.4f} "
                  f"lr {lr:.5f} {rate:.0f} frames/s", flush=True)
            acc[:] = 0
            started = time.time()
        if step % 200 == 0 or step == args.steps:
            torch.save({"model": net.state_dict(), "opt": opt.state_dict(), "step": step}, path + ".tmp")
            os.replace(path + ".tmp", path)
    torch.save({"model": net.state_dict(), "step": step}, os.path.join(args.ckpt, "final.pt"))


if __name__ == "__main__":
    main()
