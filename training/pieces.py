"""Written pieces: well-known keyboard music of the 18th and 19th centuries, entered by hand (simplified in
places), as a second validation set beside the generated pieces. Their textures are those of real music (a
held bass under broken chords, a melody over an Alberti bass, four-part chords, a waltz accompaniment), which
the generator's random pieces only approximate.

Each piece is a list of notes (MIDI pitch, onset s, offset s, velocity). SETS says which pieces each family
plays, with a GM program and the lowest pitch kept (a flute plays only the upper part)."""
import numpy as np


def broken_chords():
    bars = [[60,64,67,72,76],[60,62,69,74,77],[59,62,67,74,77],[60,64,67,72,76],[60,64,69,76,81],
            [60,62,66,69,74],[59,62,67,74,79],[59,60,64,67,72],[57,60,64,67,72],[50,57,62,66,72],
            [55,59,62,67,71],[55,58,64,67,73],[53,57,62,69,74],[53,56,62,65,71],[52,55,60,67,72],
            [52,53,57,60,65],[50,53,57,60,65],[43,50,55,59,65],[48,52,55,60,64],[48,55,58,60,64]]
    s = 0.22
    rng = np.random.default_rng(1)
    notes = []
    t = 0.0
    for b in bars:
        for half in range(2):
            notes.append((b[0], t, t + 8 * s, 62))
            notes.append((b[1], t + s, t + 8 * s, 58))
            for i, p in enumerate([b[2], b[3], b[4], b[2], b[3], b[4]]):
                notes.append((p, t + (2 + i) * s, t + (3 + i) * s, int(rng.integers(55, 75))))
            t += 8 * s
    notes += [(p, t, t + 2, v) for p, v in ((48, 60), (55, 55), (64, 60), (72, 64))]
    return notes


def minuet():
    q = 0.5
    rh = [(74,1),(67,.5),(69,.5),(71,.5),(72,.5), (74,1),(67,1),(67,1), (76,1),(72,.5),(74,.5),(76,.5),(78,.5),
          (79,1),(67,1),(67,1), (72,1),(74,.5),(72,.5),(71,.5),(69,.5), (71,1),(72,.5),(71,.5),(69,.5),(67,.5),
          (66,1),(67,.5),(69,.5),(71,.5),(67,.5), (69,3)]
    lh = [([55,59,62],2),([57],1), ([59],3), ([60],3), ([59],3), ([57],3), ([55],3), ([62],1),([59],1),([55],1),
          ([62],1),([50],1),([54],1)]
    notes = []
    for rep in range(2):
        base = rep * 24 * q
        t = base
        for p, d in rh:
            notes.append((p, t, t + d * q * 0.95, 72 if d >= 1 else 64))
            t += d * q
        t = base
        for ps, d in lh:
            for p in ps:
                notes.append((p, t, t + d * q * 0.95, 52))
            t += d * q
    return notes


def bagatelle():
    s = 0.16
    seq = []  # slots of 16ths: list of pitches starting there
    intro = [[76], [75]]
    motif = [[76], [75], [76], [71], [74], [72]]
    a_bar = [[45, 69], [52], [57], [60], [64], [69]]
    b_bar = [[40, 71], [52], [56], [64], [68], [71]]
    c_bar = [[45, 72], [52], [57], [64], [76], [75]]
    b2_bar = [[40, 71], [52], [56], [64], [72], [71]]
    end = [[45, 69], [52], [57], [], [], []]
    for rep in range(2):
        seq += intro + motif + a_bar + b_bar + c_bar + motif + a_bar + b2_bar + end
    notes = []
    rng = np.random.default_rng(3)
    for i, ps in enumerate(seq):
        for p in ps:
            long = p < 60 and p in (45, 40)
            notes.append((p, i * s, i * s + (3 * s if long else 0.9 * s), int(rng.integers(45, 70)) if p < 60 else int(rng.integers(60, 85))))
    return notes


def sonatina():
    q = 0.45
    rh = [(72,2),(76,1),(79,1), (71,1.5),(72,.25),(74,.25),(72,2), (81,2),(79,1),(84,1), (79,1),(77,.5),(79,.25),(77,.25),(76,2)]
    run = [69,71,72,74,76,77,79,81,79,77,76,74,72,71,69,67, 65,67,69,71,72,74,76,77,76,74,72,71,69,67,65,64,
           62,64,65,67,69,71,72,74,72,71,69,67,65,64,62,60]
    lh_alberti = [[48,55,52,55,48,55,52,55],[50,55,53,55,48,55,52,55],[48,57,53,57,48,55,52,55],[47,55,50,55,48,55,52,55]]
    notes = []
    t = 0.0
    for p, d in rh:
        notes.append((p, t, t + d * q * 0.9, 75))
        t += d * q
    t = 0.0
    for bar in lh_alberti:
        for p in bar:
            notes.append((p, t, t + 0.5 * q * 0.9, 50))
            t += 0.5 * q
    t0 = t
    for i, p in enumerate(run):
        notes.append((p, t0 + i * 0.25 * q, t0 + (i + 0.9) * 0.25 * q, 68))
    for i, chord in enumerate([[53, 57, 60], [52, 55, 60], [50, 53, 59], [48, 52, 55], [53, 57, 62], [48, 55, 64],
                               [43, 55, 59], [48, 52, 60], [41, 53, 57], [43, 50, 55], [48, 55, 64], [36, 48]]):
        for p in chord:
            notes.append((p, t0 + i * q, t0 + (i + 0.95) * q, 55))
    end = t0 + 12 * q
    notes += [(p, end, end + 1.5, v) for p, v in ((72, 70), (64, 60), (48, 60))]
    return notes


def chorale():
    q = 0.6
    # soprano, alto, tenor, bass per beat; the fourth chord of each phrase is held for two beats
    sat = [
        (72, 64, 55, 48), (72, 65, 57, 53), (71, 62, 55, 55), (72, 64, 55, 48),
        (76, 67, 60, 48), (74, 65, 57, 50), (74, 67, 59, 43), (72, 64, 55, 48),
        (69, 64, 60, 57), (71, 62, 59, 55), (72, 64, 57, 53), (74, 65, 57, 50),
        (72, 64, 55, 52), (71, 62, 55, 55), (67, 62, 59, 43), (67, 62, 59, 43),
        (69, 60, 57, 53), (67, 60, 55, 52), (65, 60, 57, 50), (64, 59, 55, 55),
        (64, 60, 55, 48), (65, 62, 57, 50), (67, 62, 59, 43), (72, 64, 55, 36),
    ]
    notes = []
    for i, chord in enumerate(sat):
        hold = 2 if i % 4 == 3 else 1
        for j, p in enumerate(chord):
            t = i * q + (i // 4) * q
            notes.append((p, t, t + hold * q * 0.92, 70 - 5 * j))
    return notes


def waltz():
    q = 0.42
    prog = [(45, [57, 60, 64]), (40, [56, 59, 64]), (45, [57, 60, 64]), (40, [56, 59, 62]),
            (50, [57, 62, 65]), (45, [57, 60, 64]), (40, [56, 59, 62]), (45, [57, 60, 64])]
    mel = [[76, 74, 72], [71, 72, 74], [76, 81, 79], [77, 76, 74], [77, 81, 77], [76, 72, 69], [71, 74, 68], [69, 0, 0]]
    notes = []
    for rep in range(2):
        for b, ((bass, chord), m) in enumerate(zip(prog, mel)):
            t = (rep * 8 + b) * 3 * q
            notes.append((bass, t, t + q * 0.9, 60))
            for k in (1, 2):
                for p in chord:
                    notes.append((p, t + k * q, t + (k + 0.6) * q, 45))
            for k, p in enumerate(m):
                if p:
                    notes.append((p + (12 if rep else 0), t + k * q, t + (k + 0.95) * q, 80))
    return notes


def nocturne():
    """Wide broken chords in the left hand, held by the pedal to the end of each bar, under a cantabile
    melody with swelling dynamics."""
    e = 0.27  # an eighth of the 12/8 bar
    bars = [(39, [46, 55, 58, 63]), (44, [51, 60, 63, 68]), (46, [53, 58, 62, 65]), (39, [46, 55, 58, 63]),
            (36, [43, 51, 55, 60]), (41, [48, 56, 60, 65]), (46, [53, 58, 62, 68]), (39, [46, 55, 58, 63])]
    melody = [[(70, 3), (79, 2), (77, 1), (75, 3), (70, 3)], [(75, 2), (72, 1), (80, 3), (79, 2), (77, 1), (75, 3)],
              [(74, 3), (77, 2), (75, 1), (74, 2), (72, 1), (70, 3)], [(67, 1), (70, 1), (75, 1), (79, 6), (75, 3)],
              [(79, 3), (84, 2), (82, 1), (80, 3), (79, 3)], [(77, 2), (79, 1), (80, 3), (84, 2), (82, 1), (80, 3)],
              [(79, 2), (77, 1), (75, 3), (74, 3), (77, 3)], [(75, 9), (70, 3)]]
    notes = []
    for b, ((bass, chord), line) in enumerate(zip(bars, melody)):
        t0 = b * 12 * e
        end = t0 + 12 * e
        order = [bass] + chord + chord[-2::-1]
        for i, p in enumerate(order[:6] + order[:6]):
            notes.append((p, t0 + i * e, end, 48 + 4 * (i == 0) + int(6 * np.sin(np.pi * b / 8))))
        t = t0
        for i, (p, d) in enumerate(line):
            notes.append((p, t, t + d * e * 0.95, 64 + int(20 * np.sin(np.pi * (b * 12 + (t - t0) / e) / 48))))
            t += d * e
    return notes


def invention():
    """Two voices in imitation, sixteenths against eighths."""
    s = 0.13
    motif = [0, 2, 4, 5, 2, 4, 0, 7]  # steps of the C major scale from the motif's first note
    scale = [0, 2, 4, 5, 7, 9, 11]

    def pitch(base, step):
        return base + 12 * (step // 7) + scale[step % 7]
    upper, lower = [], []
    starts = [0, 4, 1, 5, 3, 2, 0, 4]
    for bar, st in enumerate(starts):
        for i, m in enumerate(motif):
            upper.append((pitch(60, st + m), (bar * 16 + i) * s, (bar * 16 + i + 1) * s))
        for i, m in enumerate([7, 4, 2, 0]):
            upper.append((pitch(60, st + m + 2), (bar * 16 + 8 + 2 * i) * s, (bar * 16 + 10 + 2 * i) * s))
        if bar:
            for i, m in enumerate(motif):
                lower.append((pitch(48, starts[bar - 1] + m), (bar * 16 + i) * s, (bar * 16 + i + 1) * s))
        for i, m in enumerate([0, 4, 3, 0]):
            lower.append((pitch(36, st + m), (bar * 16 + 8 + 2 * i) * s, (bar * 16 + 10 + 2 * i) * s))
    rng = np.random.default_rng(5)
    return [(p, a, b, int(rng.integers(58, 78))) for p, a, b in upper + lower]


def march():
    """Bass octaves on the beats, chords after them, the tune in octaves, loud."""
    q = 0.45
    tune = [(67, 1), (72, 1), (72, 0.5), (74, 0.5), (76, 1), (76, 1), (74, 0.5), (72, 0.5), (74, 2),
            (71, 1), (74, 1), (74, 0.5), (76, 0.5), (77, 1), (79, 1), (77, 0.5), (76, 0.5), (74, 2),
            (76, 1), (72, 1), (74, 0.5), (76, 0.5), (77, 1), (81, 1), (79, 1), (77, 0.5), (76, 0.5), (74, 2),
            (72, 2), (67, 1), (72, 1)]
    harmony = [(36, [55, 60, 64]), (36, [55, 60, 64]), (43, [55, 59, 65]), (43, [55, 59, 62]),
               (43, [55, 59, 65]), (43, [55, 59, 65]), (43, [55, 59, 62]), (43, [55, 59, 62]),
               (36, [55, 60, 64]), (41, [57, 60, 65]), (43, [55, 59, 65]), (43, [55, 59, 62]),
               (36, [55, 60, 64]), (36, [55, 60, 64])]
    notes = []
    t = 0.0
    for p, d in tune:
        for o in (0, 12):
            notes.append((p + o, t, t + d * q * 0.9, 96 - 6 * o // 12))
        t += d * q
    for bar, (bass, chord) in enumerate(harmony):
        t0 = bar * 2 * q
        for beat in range(2):
            b = bass if beat == 0 else bass + 7 if bass + 7 <= 43 else bass - 5
            notes.append((b, t0 + beat * q, t0 + (beat + 0.45) * q, 88))
            notes.append((b + 12, t0 + beat * q, t0 + (beat + 0.45) * q, 84))
            for p in chord:
                notes.append((p, t0 + (beat + 0.5) * q, t0 + (beat + 0.9) * q, 70))
    return notes


PIECES = {"broken_chords": broken_chords, "minuet": minuet, "bagatelle": bagatelle, "sonatina": sonatina,
          "chorale": chorale, "waltz": waltz, "nocturne": nocturne, "invention": invention, "march": march}

SETS = {
    "piano": [(n, 0, 0) for n in PIECES],
    "guitar": [("broken_chords", 24, 0), ("minuet", 25, 0), ("waltz", 24, 0), ("bagatelle", 25, 0),
               ("invention", 24, 0)],
    "flute": [("minuet", 73, 65), ("waltz", 73, 65), ("bagatelle", 73, 60), ("nocturne", 73, 69)],
    "strings": [("chorale", 48, 0), ("minuet", 48, 0), ("waltz", 48, 0), ("nocturne", 48, 0)],
}


def notes(piece, lowest=0):
    """The piece's notes from `lowest` up, as a keyboard plays them: two voices on one key at once are one
    note, and a key struck again ends the note it was holding."""
    out = []
    for n in sorted(n for n in PIECES[piece]() if n[0] >= lowest):
        if out and out[-1][0] == n[0] and n[1] < out[-1][2]:
            if abs(n[1] - out[-1][1]) < 1e-9:
                continue
            out[-1] = (out[-1][0], out[-1][1], n[1], out[-1][3])
        out.append(n)
    return sorted(out, key=lambda n: (n[1], n[0]))
