"""Renders the training and validation data: random pieces and excerpts of the real piano pieces
(realmusic.py), played by fluidsynth with Debian's sound fonts, augmented (gain, reverb and chorus, noise,
EQ, sample rate; the real music also room reverberation, microphone colour and MP3 coding), turned into
the recogniser's features and frame labels. One batch is one fluidsynth run over many pieces separated by
silence.

    python3 render.py OUT_DIR            (every batch that is missing; safe to run again)
"""
import json
import os
import subprocess
import sys
import random
import tempfile
from concurrent.futures import ProcessPoolExecutor

import numpy as np
from scipy.io import wavfile
from scipy.signal import fftconvolve, lfilter

import features
import music
import realmusic

SF2 = "/usr/share/sounds/sf2"
SF3 = "/usr/share/sounds/sf3"
# Fonts the recogniser learns from, with how often each plays a batch.
TRAIN_FONTS = [(f"{SF3}/MuseScore_General_Full.sf3", 40), (f"{SF2}/TimGM6mb.sf2", 28),
               (f"{SF3}/MuseScore_General_Lite.sf3", 20), (f"{SF2}/OPL-3_FM_128M.sf2", 12)]
# Kept out of training: the validation font.
VALID_FONT = f"{SF2}/sf_GMbank.sf2"
RATES = [(8000, 4), (11025, 5), (16000, 8), (22050, 10), (32000, 8), (44100, 40), (48000, 20), (96000, 5)]

PIECE_SECONDS = 30.0
GAP = 3.0
TRAIN_BATCHES = 36
PIECES_PER_BATCH = 18
VALID_FAMILIES = ["piano", "guitar", "strings", "winds", "organ"]
VALID_PIECES = 8
# Real music: batches of excerpts of the training side, a quarter of them melodies and bass lines played
# by other instruments; validation excerpts of the validation side.
REAL_BATCHES = 40
EXCERPTS_PER_BATCH = 12
EXCERPT_SECONDS = 40.0
LINES_SHARE = 0.25
PIANO_PROGRAMS = [0, 0, 0, 0, 1, 1, 2]
VALID_EXCERPTS = 24
VALID_LINES = 16
VALID_EXCERPT_SECONDS = 30.0


def real_items(rng, side, count, seconds, lines_share):
    """Excerpts of the real pieces of one side, drawn by duration: [("real" or "lines", path, start, s)]."""
    pieces = realmusic.split(side)
    items = []
    for _ in range(count):
        path, _, duration = music.weighted(rng, [(piece, piece[2]) for piece in pieces])
        start = rng.uniform(0, max(0.0, duration - seconds))
        items.append(("lines" if rng.random() < lines_share else "real", path, round(start, 3), seconds))
    return items


def valid_real_items(kind, count, seconds, seed):
    """Validation excerpts spread over the works of the validation side (each work in turn)."""
    rng = random.Random(seed)
    by_work = {}
    for p, w, d in realmusic.split("valid"):
        by_work.setdefault(w, []).append((p, d))
    works = sorted(by_work)
    items = []
    for i in range(count):
        path, duration = rng.choice(by_work[works[i % len(works)]])
        start = rng.uniform(0, max(0.0, duration - seconds))
        items.append((kind, path, round(start, 3), seconds))
    return items


def batch_plan():
    """Every batch: (name, seed, font, rate, reverb, chorus, kinds)."""
    import random
    plan = []
    for b in range(TRAIN_BATCHES):
        rng = random.Random(1000 + b)
        plan.append({"name": f"train_{b:03d}", "seed": 100000 + b * 1000,
                     "font": music.weighted(rng, TRAIN_FONTS), "rate": music.weighted(rng, RATES),
                     "reverb": rng.random() < 0.6, "chorus": rng.random() < 0.35,
                     "kinds": [None] * PIECES_PER_BATCH, "augment": True})
    for b in range(REAL_BATCHES):
        rng = random.Random(5000 + b)
        plan.append({"name": f"train_real_{b:03d}", "seed": 500000 + b * 1000,
                     "font": music.weighted(rng, TRAIN_FONTS), "rate": music.weighted(rng, RATES),
                     "reverb": rng.random() < 0.5, "chorus": rng.random() < 0.2,
                     "kinds": real_items(rng, "train", EXCERPTS_PER_BATCH, EXCERPT_SECONDS, LINES_SHARE),
                     "augment": "real"})
    for i, fam in enumerate(VALID_FAMILIES):
        plan.append({"name": f"valid_{fam}", "seed": 900000 + i * 1000, "font": VALID_FONT, "rate": 44100,
                     "reverb": True, "chorus": False, "kinds": [fam] * VALID_PIECES, "augment": False})
    # the real validation pieces, as rendered and through MP3 at 128 kbit/s, and their lines
    real = valid_real_items("real", VALID_EXCERPTS, VALID_EXCERPT_SECONDS, 31)
    plan.append({"name": "valid_real", "seed": 950000, "font": VALID_FONT, "rate": 44100, "reverb": True,
                 "chorus": False, "kinds": real, "augment": False})
    plan.append({"name": "valid_real_mp3", "seed": 950000, "font": VALID_FONT, "rate": 44100, "reverb": True,
                 "chorus": False, "kinds": real, "augment": "mp3"})
    plan.append({"name": "valid_lines", "seed": 960000, "font": VALID_FONT, "rate": 44100, "reverb": True,
                 "chorus": False, "kinds": valid_real_items("lines", VALID_LINES, VALID_EXCERPT_SECONDS, 32),
                 "augment": False})
    return plan


def biquad_shelf(rate, f0, gain_db, high):
    a = 10 ** (gain_db / 40)
    w0 = 2 * np.pi * f0 / rate
    alpha = np.sin(w0) / 2 * np.sqrt(2)
    c = np.cos(w0)
    sa = 2 * np.sqrt(a) * alpha
    if high:
        b = [a * ((a + 1) + (a - 1) * c + sa), -2 * a * ((a - 1) + (a + 1) * c), a * ((a + 1) + (a - 1) * c - sa)]
        den = [(a + 1) - (a - 1) * c + sa, 2 * ((a - 1) - (a + 1) * c), (a + 1) - (a - 1) * c - sa]
    else:
        b = [a * ((a + 1) - (a - 1) * c + sa), 2 * a * ((a - 1) - (a + 1) * c), a * ((a + 1) - (a - 1) * c - sa)]
        den = [(a + 1) + (a - 1) * c + sa, -2 * ((a - 1) + (a + 1) * c), (a + 1) + (a - 1) * c - sa]
    return np.array(b) / den[0], np.array(den) / den[0]


def augment(x, rate, rng):
    """x: float [n, 2]. EQ, noise and a gain from -40 to 0 dBFS, then 16-bit samples."""
    if rng.random() < 0.5:
        for high in (False, True):
            if rng.random() < 0.6:
                f0 = rng.uniform(150, 400) if not high else rng.uniform(1500, min(6000, rate * 0.4))
                b, a = biquad_shelf(rate, f0, rng.uniform(-12, 9), high)
                x = lfilter(b, a, x, axis=0)
    if rng.random() < 0.5:
        rms = np.sqrt(np.mean(x ** 2)) + 1e-9
        snr = rng.uniform(15, 60)
        noise = rng.standard_normal(x.shape)
        if rng.random() < 0.5:  # pink-ish
            noise = lfilter([0.05, 0.05], [1, -0.95], noise, axis=0)
            noise /= np.sqrt(np.mean(noise ** 2)) + 1e-12
        x = x + noise * rms * 10 ** (-snr / 20)
    return quantise(x, rng.uniform(-40, 0))


def peaking(rate, f0, gain_db, q):
    a = 10 ** (gain_db / 40)
    w0 = 2 * np.pi * f0 / rate
    alpha = np.sin(w0) / (2 * q)
    c = np.cos(w0)
    b = [1 + alpha * a, -2 * c, 1 - alpha * a]
    den = [1 + alpha / a, -2 * c, 1 - alpha / a]
    return np.array(b) / den[0], np.array(den) / den[0]


def room(x, rate, rng):
    """A room: early reflections and a decaying, darkening tail (reverberation time 0.2 to 2.5 s)."""
    rt60 = float(np.exp(rng.uniform(np.log(0.2), np.log(2.5))))
    n = int(min(3.0, rt60 * 1.2) * rate)
    t = np.arange(n) / rate
    ir = np.zeros((n, 2))
    for ch in range(2):
        noise = rng.standard_normal(n)
        dark = lfilter([0.15], [1, -0.85], noise) * 2.5
        ir[:, ch] = (noise - dark) * np.exp(-6.9 * t / (rt60 * 0.6)) + dark * np.exp(-6.9 * t / rt60)
        for _ in range(rng.integers(2, 8)):
            k = int(rng.uniform(0.003, 0.05) * rate)
            if k < n:
                ir[k, ch] += rng.uniform(0.2, 0.8) * rng.choice([-1, 1]) * np.sqrt(n / rate) * 8
    onset = int(rng.uniform(0.002, 0.02) * rate)
    ir[:onset] = 0
    ir *= 1.0 / (np.sqrt(np.sum(ir ** 2, axis=0, keepdims=True)) + 1e-12)
    wet = 10 ** (-rng.uniform(-8, 12) / 20)  # direct-to-reverberant ratio -8 to 12 dB
    out = x.copy()
    for ch in range(2):
        out[:, ch] += wet * fftconvolve(x[:, ch], ir[:, ch])[:len(x)]
    return out


def microphone(x, rate, rng):
    """Colour of a microphone and its placement: low cut, a few broad peaks and dips, shelves."""
    if rng.random() < 0.3:
        f0 = rng.uniform(30, 120)
        w = np.exp(-2 * np.pi * f0 / rate)
        x = lfilter([(1 + w) / 2, -(1 + w) / 2], [1, -w], x, axis=0)
    for _ in range(rng.integers(0, 4)):
        f0 = float(np.exp(rng.uniform(np.log(80), np.log(min(9000, rate * 0.42)))))
        b, a = peaking(rate, f0, rng.uniform(-8, 8), rng.uniform(0.5, 2.5))
        x = lfilter(b, a, x, axis=0)
    return x


def mp3(pcm, rate, bitrate):
    """16-bit samples through MP3 coding at `bitrate` kbit/s and back (lame keeps the timing)."""
    with tempfile.TemporaryDirectory() as tmp:
        a, b, c = (os.path.join(tmp, n) for n in ("a.wav", "a.mp3", "b.wav"))
        wavfile.write(a, rate, pcm)
        subprocess.run(["lame", "--quiet", "-b", str(bitrate), a, b], check=True)
        subprocess.run(["lame", "--quiet", "--decode", b, c], check=True)
        _, out = wavfile.read(c)
    out = out.reshape(len(out), -1)
    if out.shape[1] != pcm.shape[1]:
        out = np.repeat(out[:, :1], pcm.shape[1], axis=1)
    if len(out) < len(pcm):
        out = np.vstack([out, np.zeros((len(pcm) - len(out), out.shape[1]), out.dtype)])
    return out[:len(pcm)].astype(np.int16)


def augment_real(x, rate, rng):
    """What a recording adds: a room, a microphone, the EQ and noise of augment(), a level, MP3 coding."""
    if rng.random() < 0.7:
        x = room(x, rate, rng)
    if rng.random() < 0.6:
        x = microphone(x, rate, rng)
    pcm = augment(x, rate, rng)
    if rate <= 48000 and rng.random() < 0.35:
        pcm = mp3(pcm, rate, int(rng.choice([96, 112, 128, 160, 192])))
    return pcm


def make_item(recipe, i, kind):
    """(notes, events, info, seconds) of one piece of a batch."""
    if isinstance(kind, (list, tuple)):
        what, path, start, seconds = kind
        rng = random.Random(recipe["seed"] + i)
        if what == "real":
            notes, events = realmusic.excerpt(path, start, seconds, program=rng.choice(PIANO_PROGRAMS))
            families = ["piano"]
        else:
            notes, events, families = realmusic.lines_excerpt(path, start, seconds, rng)
        notes = music.remove_overlaps(notes)
        for n in notes:
            events.append((n.onset, {"type": "note_on", "channel": n.channel, "note": n.pitch,
                                     "velocity": n.velocity}))
            events.append((n.offset, {"type": "note_off", "channel": n.channel, "note": n.pitch, "velocity": 0}))
        info = {"kind": what, "families": families, "piece": os.path.basename(path), "start": start}
        return notes, events, info, seconds
    notes, ev, info = music.make_piece(recipe["seed"] + i, PIECE_SECONDS, kind)
    return notes, ev, info, PIECE_SECONDS


def quantise(x, peak_db):
    peak = np.max(np.abs(x)) + 1e-12
    y = x * (10 ** (peak_db / 20) * 32767 / peak)
    return np.clip(np.round(y), -32768, 32767).astype(np.int16)


def labels(notes, sounding_offsets, t_count):
    onset = np.zeros((t_count, 88), np.uint8)
    frame = np.zeros((t_count, 88), np.uint8)
    velocity = np.zeros((t_count, 88), np.uint8)
    for n, off in zip(notes, sounding_offsets):
        k = n.pitch - 21
        if not 0 <= k < 88:
            continue
        s = int(round(n.onset * 100))
        e = max(s + 1, int(round(off * 100)))
        if s >= t_count:
            continue
        onset[s, k] = 1
        velocity[s, k] = n.velocity
        frame[s:min(e, t_count), k] = 1
    return onset, frame, velocity


def render_batch(recipe, out_dir):
    path = os.path.join(out_dir, recipe["name"] + ".npz")
    if os.path.exists(path):
        return path
    rng = np.random.default_rng(recipe["seed"])
    pieces = []
    events = []
    start = 0.0
    for i, kind in enumerate(recipe["kinds"]):
        notes, ev, info, seconds = make_item(recipe, i, kind)
        # every piece uses its own channels' state: reset controllers and programs at its start
        for ch in range(16):
            events.append((start, {"type": "control_change", "channel": ch, "control": 121, "value": 0}))
            events.append((start, {"type": "control_change", "channel": ch, "control": 123, "value": 0}))
        for t, e in ev:
            events.append((start + t, e))
        offsets = music.pedal_offsets(notes, ev)
        pieces.append((start, notes, offsets, info, seconds))
        end = max([start + seconds] + [start + o for o in offsets])
        start = end + GAP
    with tempfile.TemporaryDirectory() as tmp:
        mid = os.path.join(tmp, "b.mid")
        wav = os.path.join(tmp, "b.wav")
        music.write_midi(events, mid)
        cmd = ["fluidsynth", "-ni", "-q", "-g", "0.4", "-r", str(recipe["rate"]), "-O", "float", "-T", "wav",
               "-F", wav, "-R", "1" if recipe["reverb"] else "0", "-C", "1" if recipe["chorus"] else "0",
               "-o", "synth.reverb.room-size=%.2f" % rng.uniform(0.2, 0.9), recipe["font"], mid]
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        rate, audio = wavfile.read(wav)
    audio = audio.astype(np.float64)
    feats, onsets, frames, vels, bounds, note_rows = [], [], [], [], [], []
    pos = 0
    for idx, (s, notes, offsets, info, seconds) in enumerate(pieces):
        a = int(round(s * rate))
        b = int(round((s + seconds + 2.5) * rate)) if idx + 1 == len(pieces) else \
            int(round((pieces[idx + 1][0] - 0.5) * rate))
        seg = audio[a:min(b, len(audio))]
        if len(seg) == 0:
            continue
        if recipe["augment"] == "real":
            pcm = augment_real(seg, rate, rng)
        elif recipe["augment"] == "mp3":
            pcm = mp3(quantise(seg, -6.0), rate, 128)
        elif recipe["augment"]:
            pcm = augment(seg, rate, rng)
        else:
            pcm = quantise(seg, -6.0)
        f = features.features_from_samples(pcm, rate)
        on, fr, ve = labels(notes, offsets, len(f))
        feats.append(f.astype(np.float16))
        onsets.append(on)
        frames.append(fr)
        vels.append(ve)
        bounds.append((pos, pos + len(f)))
        for n, off in zip(notes, offsets):
            # the last column: when the sound ends (the key released and the pedal lifted)
            note_rows.append((idx, n.pitch, n.onset, n.offset, n.velocity, off))
        pos += len(f)
    np.savez(path + ".tmp.npz", feat=np.concatenate(feats), onset=np.concatenate(onsets),
             frame=np.concatenate(frames), velocity=np.concatenate(vels), bounds=np.array(bounds, np.int64),
             notes=np.array(note_rows, np.float64), info=json.dumps([p[3] for p in pieces]))
    os.replace(path + ".tmp.npz", path)
    return path


def main():
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    plan = batch_plan()
    # validation first: it is small and tells early whether everything fits together
    plan.sort(key=lambda p: not p["name"].startswith("valid"))
    jobs = int(os.environ.get("NOTAVOX_RENDER_JOBS", "2"))
    with ProcessPoolExecutor(jobs) as pool:
        for path in pool.map(render_batch, plan, [out_dir] * len(plan)):
            print(path, flush=True)


if __name__ == "__main__":
    main()
