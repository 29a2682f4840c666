#!/usr/bin/python3
"""Validation of the beats, bars, metre and key of notavox-convert --accurate on real piano music.

The pieces come from the collection of hand-sequenced piano MIDI files (../shared/data/piano-midi): their
tempo maps follow the performance, so every beat and bar line is known exactly. The works are split in two
halves by a hash of the work (all movements of a sonata or set on the same side): `tune` pieces may be looked
at while the analysis is improved, `report` pieces only measure it. From each chosen piece a 30-second excerpt
from a bar line is written as a plain MIDI file, rendered with a sound font and converted; the output's tempo
map gives its beats and bar lines, its time and key signatures its metre and key.

Scores: beat F and downbeat F (70 ms, beats in the first 5 s left out as the usual evaluation does), beat F at
the best of half, own and double tempo, metre right (numerator and denominator; 2/2 counts as 4/4), key right
(tonic and mode; the key is taken from the title, since several files carry the relative major's signature;
pieces whose title names no key are not scored for key).

  scripts/rhythm-validation.py --convert build/notavox-convert --font /usr/share/sounds/sf2/TimGM6mb.sf2 \
      --set tune --out /work/ckpt/rhythm/run1

Needs python3-mido, python3-mir-eval and fluidsynth (scripts/install-training-deps.sh). Only the training
fonts may be used (TimGM6mb, MuseScore General, sf_GMbank, OPL-3).
"""
import argparse
import csv
import hashlib
import json
import os
import re
import subprocess
import sys
import time

import mido
import numpy as np
import mir_eval

from midi_events import MidiEvents

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "shared", "data", "piano-midi")
if not os.path.isdir(DATA):
    DATA = "/work/shared/data/piano-midi"
EXCERPT = 30.0
PITCH = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}
NAMES = ["C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"]


def work_of(path):
    """The work a file belongs to: its name without the number of the movement or piece of a set."""
    base = os.path.splitext(os.path.basename(path))[0]
    return os.path.dirname(path) + "/" + re.sub(r"[_-]?[a-z]?\d+$", "", base)


def side_of(path):
    h = int(hashlib.sha1(work_of(path).encode()).hexdigest(), 16)
    return "report" if h % 2 == 0 else "tune"


def key_from_title(title):
    m = re.search(r"(?:^|_)([A-G])(b|#|s|_sharp|_flat)?_(major|minor)", title)
    if not m:
        return None
    tonic = PITCH[m.group(1)]
    acc = m.group(2) or ""
    if acc in ("b", "_flat"):
        tonic -= 1
    elif acc in ("#", "s", "_sharp"):
        tonic += 1
    return tonic % 12, m.group(3) == "minor"


def key_from_signature(key):
    """mido's key name ("Ebm", "F#") as tonic and mode."""
    minor = key.endswith("m")
    k = key[:-1] if minor else key
    tonic = PITCH[k[0]] + (1 if "#" in k else 0) - (1 if "b" in k[1:] else 0)
    return tonic % 12, minor


class Timeline:
    """Ticks to seconds and the time signatures of a MIDI file, all tracks merged."""

    def __init__(self, mid):
        self.tpb = mid.ticks_per_beat
        events = MidiEvents(mid)
        tempos = sorted(events.tempos, key=lambda x: x[0])
        if not tempos or tempos[0][0] > 0:
            tempos.insert(0, (0, 500000))
        self.tempo_ticks, self.tempo_us, self.tempo_start = [], [], []
        t = 0.0
        for i, (tick, tempo) in enumerate(tempos):
            if i:
                t += (tick - tempos[i - 1][0]) * tempos[i - 1][1] / self.tpb * 1e-6
            self.tempo_ticks.append(tick)
            self.tempo_us.append(tempo)
            self.tempo_start.append(t)
        self.tempo_events = tempos
        self.sigs = sorted(events.sigs) or [(0, 4, 4)]
        self.keys = sorted(events.keys)
        self.notes = sorted(events.notes)
        self.pedal = sorted(events.pedal)
        self.last_tick = max([n[1] for n in events.notes] + [0])

    def seconds(self, tick):
        i = int(np.searchsorted(self.tempo_ticks, tick, side="right")) - 1
        i = max(i, 0)
        return self.tempo_start[i] + (tick - self.tempo_ticks[i]) * self.tempo_us[i] / self.tpb * 1e-6

    def beats_and_bars(self, end_tick):
        """(beat tick, is bar start) up to end_tick, and the metre of each beat."""
        out = []
        sigs = self.sigs + [(10**12, 0, 0)]
        for (t0, num, den), (t1, _, _) in zip(sigs, sigs[1:]):
            if t0 > end_tick:
                break
            compound = den == 8 and num % 3 == 0 and num > 3
            whole = 4 * self.tpb
            beat = whole * 3 // 8 if compound else whole // den
            bar = whole * num // den
            k = t0
            while k < min(t1, end_tick + 1):
                out.append((k, (k - t0) % bar == 0, (num, den)))
                k += beat
        return out


def metre_name(num, den):
    return f"{num}/{den}"


def same_metre(a, b):
    norm = {(2, 2): (4, 4)}
    return norm.get(a, a) == norm.get(b, b)


def choose_excerpts(which, count):
    rows = []
    with open(os.path.join(DATA, "metadata.csv")) as f:
        for r in csv.DictReader(f):
            if side_of(r["midi"]) != which:
                continue
            rows.append(r)
    # A spread over composers: the pieces in a fixed order by a hash of their path, at most two per composer
    # first, the pieces whose title names a key first.
    rows.sort(key=lambda r: (key_from_title(r["title"]) is None, hashlib.sha1(r["midi"].encode()).hexdigest()))
    chosen, per = [], {}
    for limit in (1, 2, 99):
        for r in rows:
            if len(chosen) >= count:
                break
            if r in chosen or per.get(r["composer"], 0) >= limit:
                continue
            chosen.append(r)
            per[r["composer"]] = per.get(r["composer"], 0) + 1
    return chosen


def write_excerpt(tl, start_tick, path):
    """The notes sounding from start_tick on for EXCERPT seconds, at their times, with the pedal; returns the
    start time in seconds."""
    t0 = tl.seconds(start_tick)
    events = []
    for on, off, pitch, vel in tl.notes:
        a = tl.seconds(on) - t0
        if a < 0 or a >= EXCERPT:
            continue
        b = min(tl.seconds(off) - t0, EXCERPT + 2)
        events.append((a, 1, mido.Message("note_on", note=pitch, velocity=vel)))
        events.append((b, 0, mido.Message("note_off", note=pitch, velocity=0)))
    down = 0
    for tick, value in tl.pedal:
        s = tl.seconds(tick) - t0
        if s < 0:
            down = value
        elif s < EXCERPT:
            events.append((s, 2, mido.Message("control_change", control=64, value=value)))
    events.append((0.0, -1, mido.Message("control_change", control=64, value=down)))
    events.append((EXCERPT + 2, 3, mido.Message("control_change", control=64, value=0)))
    events.sort(key=lambda e: (e[0], e[1]))
    mid = mido.MidiFile(ticks_per_beat=1000)
    track = mido.MidiTrack()
    mid.tracks.append(track)
    track.append(mido.MetaMessage("set_tempo", tempo=500000, time=0))
    track.append(mido.Message("program_change", program=0, time=0))
    last = 0
    for s, _, msg in events:
        tick = int(round(s * 2000))
        track.append(msg.copy(time=max(0, tick - last)))
        last = max(last, tick)
    mid.save(path)
    return t0


def truth_of(tl, start_tick):
    t0 = tl.seconds(start_tick)
    end = start_tick
    while tl.seconds(end) < t0 + EXCERPT + 5 and end < tl.last_tick + 8 * tl.tpb:
        end += tl.tpb
    grid = tl.beats_and_bars(end)
    beats, downs, metres = [], [], set()
    for tick, bar, metre in grid:
        s = tl.seconds(tick) - t0
        if -1e-6 <= s < EXCERPT:
            beats.append(max(0.0, s))
            if bar:
                downs.append(max(0.0, s))
            metres.add(metre)
    return np.array(beats), np.array(downs), metres


def pick_start(tl, duration):
    """A bar line about a fifth into the piece (so that an excerpt is rarely its very beginning), which leaves
    30 s after it and whose excerpt keeps one metre."""
    grid = tl.beats_and_bars(tl.last_tick)
    bars = [tick for tick, bar, _ in grid if bar]
    want = min(0.2 * duration, max(0.0, duration - EXCERPT - 2))
    bars.sort(key=lambda k: abs(tl.seconds(k) - want))
    for k in bars[:40]:
        t = tl.seconds(k)
        if t + EXCERPT > duration:
            continue
        changes = [s for s in tl.sigs if t < tl.seconds(s[0]) < t + EXCERPT]
        if not changes:
            return k
    return bars[0] if bars else 0


def read_output(path, seconds):
    tl = Timeline(mido.MidiFile(path))
    end = 0
    while tl.seconds(end) < seconds:
        end += tl.tpb
    grid = tl.beats_and_bars(end)
    beats = np.array([tl.seconds(k) for k, _, _ in grid if tl.seconds(k) < seconds])
    downs = np.array([tl.seconds(k) for k, bar, _ in grid if bar and tl.seconds(k) < seconds])
    # The metre of the bars: the time signature that holds longest (a short first bar is an upbeat).
    spans = {}
    sigs = tl.sigs + [(end, 0, 0)]
    for (t0, a, b), (t1, _, _) in zip(sigs, sigs[1:]):
        spans[(a, b)] = spans.get((a, b), 0) + max(0, t1 - t0)
    num, den = max(spans, key=spans.get) if spans else (4, 4)
    key = key_from_signature(tl.keys[0][1]) if tl.keys else None
    bpms = [60e6 / t for _, t in tl.tempo_events]
    return beats, downs, (num, den), key, bpms, len(tl.notes)


def fmeasure(ref, est):
    ref = mir_eval.beat.trim_beats(ref)
    est = mir_eval.beat.trim_beats(est)
    if len(ref) == 0 or len(est) == 0:
        return 0.0
    return mir_eval.beat.f_measure(ref, est, 0.07)


def levels(beats):
    """The beats at half (both phases), own and double tempo."""
    if len(beats) < 2:
        return [beats]
    mids = (beats[1:] + beats[:-1]) / 2
    double = np.sort(np.concatenate([beats, mids]))
    return [beats, beats[0::2], beats[1::2], double]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--convert", required=True, help="the notavox-convert to measure")
    ap.add_argument("--font", action="append", required=True)
    ap.add_argument("--set", choices=["tune", "report"], default="tune")
    ap.add_argument("--count", type=int, default=12)
    ap.add_argument("--out", required=True, help="folder for excerpts, renderings, outputs and results")
    ap.add_argument("--only", help="a regular expression: only the pieces whose path matches")
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    # Only the fonts the training set apart for its own use play validation
    # pieces; any other font may be one kept for acceptance.
    allowed = ("MuseScore_General.sf3", "MuseScore_General_Full.sf3", "MuseScore_General_Lite.sf3",
               "TimGM6mb.sf2", "sf_GMbank.sf2", "OPL-3_FM_128M.sf2")
    for font in args.font:
        if os.path.basename(font) not in allowed:
            sys.exit(f"{font}: not one of the fonts this validation may use ({', '.join(allowed)})")
    rows = choose_excerpts(args.set, args.count + 2)
    results = []
    for font in args.font:
        fname = os.path.splitext(os.path.basename(font))[0]
        print(f"\n{args.set} set, {fname}")
        print(f"{'piece':32s} {'beatF':>6s} {'best':>6s} {'downF':>6s} {'metre':>11s} {'key':>13s} "
              f"{'bpm':>9s} {'tempi':>5s} {'s':>5s}")
        done = 0
        for r in rows:
            if done >= args.count:
                break
            if args.only and not re.search(args.only, r["midi"]):
                continue
            name = os.path.splitext(os.path.basename(r["midi"]))[0]
            tl = Timeline(mido.MidiFile(os.path.join(DATA, r["midi"])))
            start = pick_start(tl, float(r["duration"]))
            mid = os.path.join(args.out, name + ".mid")
            write_excerpt(tl, start, mid)
            ref_beats, ref_downs, metres = truth_of(tl, start)
            if sorted(metres)[0] not in ((2, 4), (3, 4), (4, 4), (2, 2), (3, 8), (6, 8), (9, 8), (12, 8)):
                print(f"{name}: metre {sorted(metres)[0]} left out")
                continue
            wav = os.path.join(args.out, f"{name}.{fname}.wav")
            if not os.path.exists(wav):
                subprocess.run(["fluidsynth", "-ni", "-q", "-g", "0.6", "-r", "44100", "-F", wav, font, mid],
                               check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            out = os.path.join(args.out, f"{name}.{fname}.out.mid")
            t = time.time()
            p = subprocess.run([args.convert, "--accurate", wav, out], capture_output=True, text=True)
            took = time.time() - t
            if p.returncode != 0:
                print(f"{name}: {p.stdout} {p.stderr}")
                continue
            beats, downs, metre, key, bpms, nnotes = read_output(out, EXCERPT)
            f = fmeasure(ref_beats, beats)
            best = max(fmeasure(ref_beats, b) for b in levels(beats))
            fd = fmeasure(ref_downs, downs)
            true_metre = sorted(metres)[0]
            metre_ok = same_metre(metre, true_metre)
            true_key = key_from_title(r["title"])
            if true_key is not None and tl.keys:
                # The title names the key of the whole work; a movement in another key (the file's signature
                # is neither the title's key nor its relative) is not scored for key.
                sig = key_from_signature(tl.keys[0][1])
                relative = ((true_key[0] + (3 if true_key[1] else -3)) % 12, not true_key[1])
                if sig != true_key and sig != relative:
                    true_key = None
            key_ok = None if true_key is None or key is None else (key == true_key)
            ref_bpm = 60.0 / np.median(np.diff(ref_beats)) if len(ref_beats) > 1 else 0
            est_bpm = 60.0 / np.median(np.diff(beats)) if len(beats) > 1 else 0
            tk = "-" if true_key is None else NAMES[true_key[0]] + ("m" if true_key[1] else "")
            fk = "-" if key is None else NAMES[key[0]] + ("m" if key[1] else "")
            print(f"{name:32s} {f:6.3f} {best:6.3f} {fd:6.3f} {metre_name(*metre):>5s}/{metre_name(*true_metre):5s} "
                  f"{fk:>6s}/{tk:6s}{'' if key_ok is None else (' ok' if key_ok else ' X'):3s} "
                  f"{est_bpm:4.0f}/{ref_bpm:<4.0f} {len(bpms):5d} {took:5.1f} {min(bpms):.0f}..{max(bpms):.0f}")
            results.append(dict(set=args.set, font=fname, piece=r["midi"], beatF=f, bestF=best, downF=fd,
                                metre=metre_name(*metre), trueMetre=metre_name(*true_metre), metreOk=metre_ok,
                                key=fk, trueKey=tk, keyOk=key_ok, bpm=est_bpm, trueBpm=ref_bpm,
                                tempoEvents=len(bpms), minBpm=min(bpms), maxBpm=max(bpms), seconds=took))
            done += 1
        rs = [x for x in results if x["font"] == fname]
        if rs:
            keyed = [x for x in rs if x["keyOk"] is not None]
            print(f"mean beat F {np.mean([x['beatF'] for x in rs]):.3f}, best level {np.mean([x['bestF'] for x in rs]):.3f}, "
                  f"downbeat F {np.mean([x['downF'] for x in rs]):.3f}, metre {sum(x['metreOk'] for x in rs)}/{len(rs)}, "
                  f"key {sum(x['keyOk'] for x in keyed)}/{len(keyed)}, tempo events {min(x['minBpm'] for x in rs):.0f}.."
                  f"{max(x['maxBpm'] for x in rs):.0f} bpm, {np.mean([x['seconds'] for x in rs]):.1f} s a piece")
    with open(os.path.join(args.out, f"results-{args.set}.json"), "w") as f:
        json.dump(results, f, indent=1)


if __name__ == "__main__":
    main()
