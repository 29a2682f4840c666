"""Prints every note and tempo event of a MIDI file as mido plays it:
"on|off pitch seconds tick" and "tempo microseconds-a-quarter seconds tick",
with the seconds from the file's tempo map and the ticks counted from the
start of the file."""
import sys

import mido

mid = mido.MidiFile(sys.argv[1])
t = 0.0
tick = 0
# Playing the file yields the merged tracks' messages in the same order.
for played, msg in zip(mid, mido.merge_tracks(mid.tracks)):
    t += played.time
    tick += msg.time
    if msg.type == "note_on" and msg.velocity > 0:
        print("on %d %.6f %d" % (msg.note, t, tick))
    elif msg.type == "note_off" or (msg.type == "note_on" and msg.velocity == 0):
        print("off %d %.6f %d" % (msg.note, t, tick))
    elif msg.type == "set_tempo":
        print("tempo %d %.6f %d" % (msg.tempo, t, tick))
