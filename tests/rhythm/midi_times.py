"""Prints every note of a MIDI file as mido plays it: "on|off pitch seconds",
with the times from the file's tempo map."""
import sys

import mido

t = 0.0
for msg in mido.MidiFile(sys.argv[1]):
    t += msg.time
    if msg.type == "note_on" and msg.velocity > 0:
        print("on %d %.6f" % (msg.note, t))
    elif msg.type == "note_off" or (msg.type == "note_on" and msg.velocity == 0):
        print("off %d %.6f" % (msg.note, t))
