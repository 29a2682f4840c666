"""Prints a MIDI file as mido reads it: a header line, then one line per
message: track, delta time, type and the message's fields."""
import sys

import mido

m = mido.MidiFile(sys.argv[1])
print("type %d tracks %d division %d" % (m.type, len(m.tracks), m.ticks_per_beat))
for i, track in enumerate(m.tracks):
    for msg in track:
        if msg.type in ("note_on", "note_off"):
            print("%d %d %s %d %d %d" % (i, msg.time, msg.type, msg.channel, msg.note, msg.velocity))
        elif msg.type == "program_change":
            print("%d %d program_change %d %d" % (i, msg.time, msg.channel, msg.program))
        else:
            print("%d %d %s" % (i, msg.time, msg.type))
