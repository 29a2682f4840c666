#!/usr/bin/env python3
"""Writes melody.wav: a short tune with chords, made by this script alone.

Four bars of C, A minor, F and G major chords (half notes) under a melody of
eighth notes, 120 beats per minute, 44100 Hz, 16-bit mono, about 8 seconds.
Every voice is a sine with two soft overtones and a short attack and release,
so the note detection sees clear partials. Run: python3 make_example.py
"""
import math
import struct
import sys
import wave

RATE = 44100
BEAT = 0.5  # seconds per quarter note at 120 bpm


def freq(note):
    return 440.0 * 2 ** ((note - 69) / 12)


# (start beat, length in beats, MIDI note, level)
events = []
chords = [(48, 52, 55), (45, 48, 52), (41, 45, 48), (43, 47, 50)]
for bar, chord in enumerate(chords):
    for half in range(2):
        for n in chord:
            events.append((bar * 4 + half * 2, 2, n, 0.11))
melody = [72, 74, 76, 79, 76, 74, 72, 74,
          76, 72, 69, 72, 76, 77, 76, 72,
          69, 72, 77, 81, 77, 76, 72, 69,
          71, 74, 79, 77, 74, 71, 67, 72]
for i, n in enumerate(melody):
    events.append((i * 0.5, 0.5, n, 0.16))
events.append((16, 2, 72, 0.16))
for n in (48, 52, 55):
    events.append((16, 2, n, 0.11))

total_beats = 18.5
frames = int(total_beats * BEAT * RATE)
out = [0.0] * frames
for start, length, note, level in events:
    f = freq(note)
    s0 = int(start * BEAT * RATE)
    n = int(length * BEAT * RATE)
    attack = int(0.01 * RATE)
    release = int(0.04 * RATE)
    w = 2 * math.pi * f / RATE
    for k in range(n):
        env = min(1.0, k / attack, (n - k) / release)
        x = math.sin(w * k) + 0.3 * math.sin(2 * w * k) + 0.1 * math.sin(3 * w * k)
        out[s0 + k] += level * env * x

peak = max(abs(v) for v in out)
scale = 0.9 * 32767 / peak
data = b"".join(struct.pack("<h", int(round(v * scale))) for v in out)
name = sys.argv[1] if len(sys.argv) > 1 else "melody.wav"
with wave.open(name, "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(RATE)
    w.writeframes(data)
