#!/usr/bin/python3
"""How well the score (MusicXML) holds the notes of real music.

For each piece of ../shared/data/piano-midi given (default: a few short
works), the MIDI file is rendered with an allowed sound font (TimGM6mb) and
turned into a score by `notavox-convert --accurate`; the MIDI file's own notes
go through the same layout and writer (`score_from_notes`). Both scores are
read back and compared with the MIDI file's notes: a note matches when its
pitch agrees and its onset in quarter notes (from the score's bars) lies
within the tolerance of the source's (its tick over ticks per quarter). A
score begins at its first bar with a note and the recogniser's beats may run
at another tempo, so each score is first aligned to the source by the
scale (1, 2 or 1/2) and shift that match most notes. Also: the share of the
matched notes on the staff of their hand (the files keep the right and the
left hand in the tracks "Piano right" and "Piano left").

  training/score_accuracy.py [--build build] [--work /tmp/score_accuracy] [PIECE.mid...]

Prints one line per piece and the totals. Never uses the held-out fonts.
"""
import argparse
import collections
import io
import os
import subprocess
import sys
import xml.etree.ElementTree as ET
import zipfile

import mido

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = next((d for d in (os.path.normpath(os.path.join(ROOT, up, 'shared', 'data', 'piano-midi'))
                         for up in ('..', '../..')) if os.path.isdir(d)), '')
FONT = '/usr/share/sounds/sf2/TimGM6mb.sf2'
DEFAULT = ['Clementi/clementi_opus36_1_1.mid', 'Clementi/clementi_opus36_1_3.mid', 'Burgmueller/burg_erwachen.mid',
           'Burgmueller/burg_spinnerlied.mid', 'Burgmueller/burg_trennung.mid', 'Haydn/haydn_8_4.mid',
           'Haydn/haydn_7_1.mid']
KEYS = {'C': 0, 'G': 1, 'D': 2, 'A': 3, 'E': 4, 'B': 5, 'F#': 6, 'C#': 7, 'F': -1, 'Bb': -2, 'Eb': -3, 'Ab': -4,
        'Db': -5, 'Gb': -6, 'Cb': -7}
STEPS = {'C': 0, 'D': 2, 'E': 4, 'F': 5, 'G': 7, 'A': 9, 'B': 11}


def read_midi(path):
    m = mido.MidiFile(path)
    notes, times, tempos, key = [], [], [], (0, 0)
    for track in m.tracks:
        hand = {'piano right': 0, 'piano left': 1}.get(track.name.strip().lower(), -1)
        tick, sounding = 0, {}
        for msg in track:
            tick += msg.time
            if msg.type == 'note_on' and msg.velocity > 0:
                if (msg.channel, msg.note) in sounding:
                    on, vel = sounding.pop((msg.channel, msg.note))
                    notes.append((msg.note, on, tick, vel, hand))
                sounding[(msg.channel, msg.note)] = (tick, msg.velocity)
            elif msg.type == 'note_off' or (msg.type == 'note_on' and msg.velocity == 0):
                if (msg.channel, msg.note) in sounding:
                    on, vel = sounding.pop((msg.channel, msg.note))
                    notes.append((msg.note, on, max(tick, on + 1), vel, hand))
            elif msg.type == 'time_signature':
                times.append((tick, msg.numerator, msg.denominator))
            elif msg.type == 'set_tempo':
                tempos.append((tick, msg.tempo))
            elif msg.type == 'key_signature' and tick == 0:
                name = msg.key
                minor = name.endswith('m')
                tonic = name[:-1] if minor else name
                fifths = KEYS.get(tonic, 0) - (3 if minor else 0)
                if minor:
                    fifths = {'A': 0, 'E': 1, 'B': 2, 'F#': 3, 'C#': 4, 'G#': 5, 'D#': 6, 'D': -1, 'G': -2, 'C': -3,
                              'F': -4, 'Bb': -5, 'Eb': -6}.get(tonic, 0)
                key = (fifths, int(minor))
    return m.ticks_per_beat, sorted(notes, key=lambda n: (n[1], n[0])), sorted(times), sorted(tempos), key


def seconds_of(path):
    """(pitch, onset in seconds) of every note of a MIDI file, under its tempo map."""
    out, t = [], 0.0
    for msg in mido.MidiFile(path):
        t += msg.time
        if msg.type == 'note_on' and msg.velocity > 0:
            out.append((msg.note, t, 0))
    return out


def read_score(path):
    """(midi pitch, onset in quarters, staff) of every note that is not the end of a tie."""
    if path.endswith('.mxl'):
        with zipfile.ZipFile(path) as z:
            name = [n for n in z.namelist() if n.endswith('.musicxml') or (n.endswith('.xml') and 'META-INF' not in n)][0]
            root = ET.parse(io.BytesIO(z.read(name))).getroot()
    else:
        root = ET.parse(path).getroot()
    out, divisions, start, bars = [], 1, 0.0, 0
    for part in root.findall('part')[:1]:
        for measure in part.findall('measure'):
            bars += 1
            pos, longest, last = 0, 0, 0
            for el in measure:
                if el.tag == 'attributes' and el.find('divisions') is not None:
                    divisions = int(el.find('divisions').text)
                elif el.tag == 'backup':
                    pos -= int(el.find('duration').text)
                elif el.tag == 'forward':
                    pos += int(el.find('duration').text)
                elif el.tag == 'note':
                    if el.find('grace') is not None:
                        continue
                    d = int(el.find('duration').text)
                    at = last if el.find('chord') is not None else pos
                    p = el.find('pitch')
                    tied = any(t.get('type') == 'stop' for t in el.findall('tie'))
                    if p is not None and not tied:
                        midi = (int(p.find('octave').text) + 1) * 12 + STEPS[p.find('step').text] + \
                            int(float(p.find('alter').text if p.find('alter') is not None else 0))
                        staff = int(el.find('staff').text) if el.find('staff') is not None else 1
                        out.append((midi, start + at / divisions, staff))
                    if el.find('chord') is None:
                        last = pos
                        pos += d
                longest = max(longest, pos)
            start += longest / divisions
    return out, bars


def match(ref, est, tol):
    """Greedy one-to-one matches of (pitch, onset): pairs of indices."""
    by_pitch = collections.defaultdict(list)
    for j, e in enumerate(est):
        by_pitch[e[0]].append(j)
    used, pairs = set(), []
    for i, r in enumerate(ref):
        best = None
        for j in by_pitch[r[0]]:
            if j in used:
                continue
            d = abs(est[j][1] - r[1])
            if d <= tol and (best is None or d < best[0]):
                best = (d, j)
        if best:
            used.add(best[1])
            pairs.append((i, best[1]))
    return pairs


def align(ref, est, tol):
    """The scale and shift of the score's quarters that match the most notes."""
    best = (-1, 1.0, 0.0)
    for scale in (1.0, 2.0, 0.5):
        diffs = collections.Counter()
        first = sorted(ref, key=lambda r: r[1])[:200]
        for r in first:
            for e in est:
                if e[0] == r[0] and abs(e[1] / scale - r[1]) < 32:
                    diffs[round((r[1] - e[1] / scale) * 12) / 12] += 1
        for shift, _ in diffs.most_common(5):
            moved = [(e[0], e[1] / scale + shift, e[2]) for e in est]
            n = len(match(ref, moved, tol))
            if n > best[0]:
                best = (n, scale, shift)
    return best[1], best[2]


def evaluate(ref, est, tol):
    scale, shift = align(ref, est, tol)
    moved = [(e[0], e[1] / scale + shift, e[2]) for e in est]
    pairs = match(ref, moved, tol)
    p = len(pairs) / max(1, len(est))
    r = len(pairs) / max(1, len(ref))
    f1 = 2 * p * r / max(1e-9, p + r)
    handed = [(i, j) for i, j in pairs if ref[i][2] >= 0]
    right = sum(1 for i, j in handed if moved[j][2] == ref[i][2] + 1)
    return f1, p, r, right, len(handed), scale, shift


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--build', default=os.path.join(ROOT, 'build'))
    ap.add_argument('--work', default='/tmp/score_accuracy')
    ap.add_argument('--tolerance', type=float, default=0.25, help='onset tolerance in quarters (default a sixteenth)')
    ap.add_argument('--source-only', action='store_true', help='only the MIDI files\' own notes, no recogniser')
    ap.add_argument('pieces', nargs='*')
    a = ap.parse_args()
    os.makedirs(a.work, exist_ok=True)
    totals = {'src': [0, 0, 0, 0, 0], 'rec': [0, 0, 0, 0, 0], 'sec': [0, 0, 0, 0, 0]}  # matches, est, ref, right staff, handed
    for piece in a.pieces or DEFAULT:
        path = piece if os.path.isabs(piece) else os.path.join(DATA, piece)
        name = os.path.splitext(os.path.basename(path))[0]
        tpq, notes, times, tempos, key = read_midi(path)
        ref = [(n[0], n[1] / tpq, n[4]) for n in notes]
        txt = os.path.join(a.work, name + '.txt')
        with open(txt, 'w') as f:
            f.write('tpq %d\nkey %d %d\n' % (tpq, key[0], key[1]))
            for t in times:
                f.write('time %d %d %d\n' % t)
            for t in tempos:
                f.write('tempo %d %d\n' % t)
            for n in notes:
                f.write('note %d %d %d %d\n' % n[:4])
        src = os.path.join(a.work, name + '.source.musicxml')
        subprocess.run([os.path.join(a.build, 'bench', 'score_from_notes'), txt, src], check=True, stdout=subprocess.DEVNULL)
        wav = os.path.join(a.work, name + '.wav')
        rec = os.path.join(a.work, name + '.musicxml')
        if a.source_only:
            pass
        elif not os.path.exists(wav):
            subprocess.run(['fluidsynth', '-ni', '-q', '-F', wav, '-r', '44100', FONT, path], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        line = name
        if not a.source_only:
            subprocess.run([os.path.join(a.build, 'notavox-convert'), '-q', '--accurate', wav, rec], check=True)
            # The recogniser's notes in time, before any score: onset within 50 ms, same pitch.
            mid = os.path.join(a.work, name + '.mid')
            subprocess.run([os.path.join(a.build, 'notavox-convert'), '-q', '--accurate', wav, mid], check=True)
            ref_s, est_s = seconds_of(path), seconds_of(mid)
            n = len(match(ref_s, est_s, 0.05))
            totals['sec'][0] += n
            totals['sec'][1] += len(est_s)
            totals['sec'][2] += len(ref_s)
            p, r = n / max(1, len(est_s)), n / max(1, len(ref_s))
            line += '  notes in time F1 %.3f' % (2 * p * r / max(1e-9, p + r))
        for kind, score in (('src', src), ('rec', rec))[:1 if a.source_only else 2]:
            est, bars = read_score(score)
            f1, p, r, right, handed, scale, shift = evaluate(ref, est, a.tolerance)
            t = totals[kind]
            n = round(p * len(est))
            for k, v in enumerate((n, len(est), len(ref), right, handed)):
                t[k] += v
            line += '  %s F1 %.3f (P %.3f R %.3f, %d bars, x%g%+.2f) staff %.3f' % (
                'source' if kind == 'src' else 'recogniser', f1, p, r, bars, scale, shift, right / max(1, handed))
        print(line, flush=True)
    for kind, t in list(totals.items())[:1 if a.source_only else 3]:
        p, r = t[0] / max(1, t[1]), t[0] / max(1, t[2])
        if kind == 'sec':
            print('recogniser notes in time (50 ms, before the score): F1 %.3f (P %.3f R %.3f)' % (
                2 * p * r / max(1e-9, p + r), p, r))
            continue
        print('%s: F1 %.3f (P %.3f R %.3f) right staff %.3f of %d matched notes' % (
            'source MIDI notes' if kind == 'src' else 'recogniser', 2 * p * r / max(1e-9, p + r), p, r,
            t[3] / max(1, t[4]), t[4]))


if __name__ == '__main__':
    main()
