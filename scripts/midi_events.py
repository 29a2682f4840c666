"""The events of a MIDI file as the scripts read them: the messages of every track at their absolute ticks,
gathered by kind, in file order (track by track). Needs python3-mido for the file itself."""


class MidiEvents:
    """Tempo changes (tick, microseconds a quarter), time signatures (tick, numerator, denominator), key
    signatures (tick, mido's key name), notes (on tick, off tick, pitch, velocity; an off ends the earliest
    open note of its pitch in its track), the sustain pedal (tick, value), and `end`, the tick of the last
    message of any track."""

    def __init__(self, mid):
        self.tempos, self.sigs, self.keys, self.notes, self.pedal = [], [], [], [], []
        self.end = 0
        for track in mid.tracks:
            tick = 0
            open_notes = {}
            for msg in track:
                tick += msg.time
                if msg.type == "set_tempo":
                    self.tempos.append((tick, msg.tempo))
                elif msg.type == "time_signature":
                    self.sigs.append((tick, msg.numerator, msg.denominator))
                elif msg.type == "key_signature":
                    self.keys.append((tick, msg.key))
                elif msg.type == "note_on" and msg.velocity > 0:
                    open_notes.setdefault(msg.note, []).append((tick, msg.velocity))
                elif msg.type in ("note_off", "note_on"):
                    if open_notes.get(msg.note):
                        on, vel = open_notes[msg.note].pop(0)
                        self.notes.append((on, tick, msg.note, vel))
                elif msg.type == "control_change" and msg.control == 64:
                    self.pedal.append((tick, msg.value))
            self.end = max(self.end, tick)
