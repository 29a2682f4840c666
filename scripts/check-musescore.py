#!/usr/bin/python3
"""Opens tempo-mapped MIDI files of notavox-convert --accurate in a notation program (MuseScore 3, headless) and
checks that the score reads as the file means it: the first tempo mark is the piece's tempo (the median tempo of
its beats, within 10 %, and inside 20 to 300 quarter notes a minute), and every bar after a possible upbeat has
the metre of the file.

  scripts/check-musescore.py [--convert build/notavox-convert] [--quantize 1/16] FILE.wav|FILE.mid ...

A .wav is converted first (with --accurate, the converter given, and its --quantize grid if one is given).
Exit 0 when every file passes. Needs musescore3 (scripts/install-deps.sh) and python3-mido.

The notation program takes a file whose notes lie off the grid for a recorded performance and may then keep
the first bar's time signature for every bar (an upbeat of 1/4 gives bars of 1/4 throughout); a file for a
score is made with a grid, as in the window's tempo dialog.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

import mido

from midi_events import MidiEvents


def file_facts(path):
    """The metre of the bars (the time signature that holds longest), and the median tempo of the beats in
    quarter notes a minute, both as the MIDI file has them."""
    events = MidiEvents(mido.MidiFile(path))
    tempos, sigs, end = sorted(events.tempos), sorted(events.sigs), events.end
    spans = {}
    for (t0, a, b), (t1, _, _) in zip(sigs, sigs[1:] + [(end, 0, 0)]):
        spans[(a, b)] = spans.get((a, b), 0) + max(0, t1 - t0)
    metre = max(spans, key=spans.get) if spans else (4, 4)
    # The tempo of each tick, weighted by the ticks it holds.
    weighted = []
    for (t0, us), (t1, _) in zip(tempos, tempos[1:] + [(end, 0)]):
        if t1 > t0:
            weighted.append((60e6 / us, t1 - t0))
    weighted.sort()
    total = sum(w for _, w in weighted)
    acc, median = 0, 120.0
    for bpm, w in weighted:
        acc += w
        if acc >= total / 2:
            median = bpm
            break
    return metre, median, sigs


def score_facts(xml_path):
    """The first tempo mark (quarter notes a minute) and the time signature of each measure."""
    root = ET.parse(xml_path).getroot()
    part = root.find("part")
    first_tempo = None
    metres = []
    current = None
    for measure in part.findall("measure"):
        for t in measure.iter("time"):
            current = (int(t.findtext("beats")), int(t.findtext("beat-type")))
        metres.append((measure.get("number"), measure.get("implicit") == "yes", current))
        if first_tempo is None:
            for m in measure.iter("metronome"):
                unit = m.findtext("beat-unit")
                per = float(m.findtext("per-minute"))
                quarters = {"whole": 4, "half": 2, "quarter": 1, "eighth": 0.5, "16th": 0.25}.get(unit, 1)
                if m.find("beat-unit-dot") is not None:
                    quarters *= 1.5
                first_tempo = per * quarters
                break
            if first_tempo is None:
                for s in measure.iter("sound"):
                    if s.get("tempo"):
                        first_tempo = float(s.get("tempo"))
                        break
    return first_tempo, metres


def check(mid, workdir):
    metre, tempo, sigs = file_facts(mid)
    xml = os.path.join(workdir, os.path.splitext(os.path.basename(mid))[0] + ".musicxml")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    p = subprocess.run(["mscore3", "-o", xml, mid], env=env, capture_output=True, text=True, timeout=300)
    if p.returncode != 0 or not os.path.exists(xml):
        return False, f"mscore3 could not open it: {p.stderr.strip()[-300:]}"
    first_tempo, metres = score_facts(xml)
    problems = []
    if first_tempo is None:
        problems.append("no tempo mark")
    else:
        if not 20 <= first_tempo <= 300:
            problems.append(f"first tempo mark {first_tempo:.0f} outside 20..300")
        if abs(first_tempo / tempo - 1) > 0.10:
            problems.append(f"first tempo mark {first_tempo:.0f}, the piece's tempo {tempo:.0f}")
    # Every bar but an upbeat at the start has the file's metre.
    body = metres[1:] if len(sigs) > 1 or (metres and metres[0][1]) else metres
    wrong = [n for n, _, m in body if m != metre]
    if wrong:
        problems.append(f"{len(wrong)} of {len(body)} bars not in {metre[0]}/{metre[1]} (first: bar {wrong[0]})")
    first_metre = metres[0][2] if metres else None
    summary = (f"tempo {tempo:.0f}, first mark {first_tempo if first_tempo is None else round(first_tempo)}; "
               f"metre {metre[0]}/{metre[1]}, {len(metres)} bars, first bar "
               f"{'-' if not first_metre else f'{first_metre[0]}/{first_metre[1]}'}")
    return not problems, summary + ("" if not problems else "; " + "; ".join(problems))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--convert", default=os.path.join(os.path.dirname(__file__), "..", "build", "notavox-convert"))
    ap.add_argument("--quantize", help="the converter's grid (--quantize), as a user writing a score would choose it")
    ap.add_argument("files", nargs="+")
    args = ap.parse_args()
    ok = True
    with tempfile.TemporaryDirectory() as tmp:
        for f in args.files:
            mid = f
            if f.lower().endswith(".wav"):
                mid = os.path.join(tmp, os.path.splitext(os.path.basename(f))[0] + ".mid")
                grid = ["--quantize", args.quantize] if args.quantize else []
                subprocess.run([args.convert, "--accurate", "-q", *grid, f, mid], check=True)
            good, text = check(mid, tmp)
            ok = ok and good
            print(f"{'ok  ' if good else 'FAIL'} {os.path.basename(f)}: {text}")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
