"""The note recogniser: a small convolutional network over harmonically stacked log-frequency bins.

Layers (the program's C++ inference computes exactly these):
  L1  1x1 over the 8 harmonic planes at 264 bins (3 per semitone)
  L2  3x3 (time x bins) with stride 3 in frequency: one position per key (88)
  L3  3x3 (time x keys)
  L4  residual, time taps t-2, t, t+2
  L5  residual, time taps t-4, t, t+4
  heads onset, frame (note active) and velocity: time taps t-1..t+1 plus a bias per key
"""
import numpy as np
import torch
import torch.nn as nn

import features

C1, C2, C3 = 20, 24, 16


class Recogniser(nn.Module):
    def __init__(self, c1=C1, c2=C2, c3=C3):
        super().__init__()
        self.l1 = nn.Conv2d(8, c1, (1, 1))
        self.l2 = nn.Conv2d(c1, c2, (3, 3), stride=(1, 3), padding=(1, 0))
        self.l3 = nn.Conv2d(c2, c3, (3, 3), padding=(1, 1))
        self.l4 = nn.Conv2d(c3, c3, (3, 1), dilation=(2, 1), padding=(2, 0))
        self.l5 = nn.Conv2d(c3, c3, (3, 1), dilation=(4, 1), padding=(4, 0))
        self.heads = nn.ModuleDict({name: nn.Conv2d(c3, 1, (3, 1), padding=(1, 0), bias=False)
                                    for name in ("onset", "frame", "velocity")})
        self.head_bias = nn.ParameterDict({name: nn.Parameter(torch.zeros(88))
                                           for name in ("onset", "frame", "velocity")})
        with torch.no_grad():
            self.head_bias["onset"].fill_(-4.0)
            self.head_bias["frame"].fill_(-2.0)

    def forward(self, feat):
        """feat [N, T, 294] -> dict of logits [N, T, 88]."""
        x = features.stack_harmonics(feat)  # [N, 8, T, 264]
        x = x.contiguous(memory_format=torch.channels_last)  # much faster convolutions on the CPU
        x = torch.relu(self.l1(x))
        x = torch.relu(self.l2(x))
        x = torch.relu(self.l3(x))
        x = x + torch.relu(self.l4(x))
        x = x + torch.relu(self.l5(x))
        return {name: head(x)[:, 0] + self.head_bias[name] for name, head in self.heads.items()}


def from_checkpoint(state):
    """A recogniser with the layer widths of the weights in `state` (a state dict)."""
    net = Recogniser(state["l1.weight"].shape[0], state["l2.weight"].shape[0], state["l3.weight"].shape[0])
    net.load_state_dict(state)
    return net


def widen(small, c1=C1, c2=C2, c3=C3):
    """A recogniser of the given widths that computes exactly what `small` computes: its weights sit in the
    first channels, the new channels start from the usual random weights, and nothing that `small` had reads
    a new channel until training makes it so."""
    big = Recogniser(c1, c2, c3)
    old = small.state_dict()
    with torch.no_grad():
        for name, w in big.state_dict().items():
            s = old[name]
            if w.dim() >= 2:
                w[:s.shape[0], s.shape[1]:] = 0
            w[tuple(slice(0, n) for n in s.shape)] = s
    return big


def read_weights(path):
    """(recogniser, decoding settings) of a weights file as export.py writes it."""
    import struct
    with open(path, "rb") as fh:
        data = fh.read()
    assert data[:4] == b"NVNM", path
    _, count = struct.unpack_from("<II", data, 4)
    pos = 12
    arrays = {}
    for _ in range(count):
        (n,) = struct.unpack_from("<H", data, pos)
        name = data[pos + 2:pos + 2 + n].decode("ascii")
        pos += 2 + n
        ndim = data[pos]
        shape = struct.unpack_from("<%dI" % ndim, data, pos + 1)
        pos += 1 + 4 * ndim
        size = int(np.prod(shape))
        arrays[name] = np.frombuffer(data, "<f4", size, pos).reshape(shape).copy()
        pos += 4 * size
    state = {"l1.weight": arrays["l1.weight"][:, :, None, None], "l4.weight": arrays["l4.weight"][..., None],
             "l5.weight": arrays["l5.weight"][..., None]}
    for name in ("l1.bias", "l2.weight", "l2.bias", "l3.weight", "l3.bias", "l4.bias", "l5.bias"):
        state[name] = arrays[name]
    for head in ("onset", "frame", "velocity"):
        state[f"heads.{head}.weight"] = arrays[head + ".weight"][None, :, :, None]
        state[f"head_bias.{head}"] = arrays[head + ".bias"]
    net = from_checkpoint({k: torch.from_numpy(np.ascontiguousarray(v)) for k, v in state.items()})
    lists = set(KEY_SETTINGS) | {"overtone_intervals"}
    decode = {k[7:]: float(v[0]) for k, v in arrays.items() if k.startswith("decode.") and k[7:] not in lists}
    decode["min_frames"] = int(decode["min_frames"])
    decode["overtone_frames"] = int(decode.get("overtone_frames", 0))
    for name, kind in KEY_SETTINGS.items():
        if "decode." + name in arrays:
            decode[name] = [kind(v) for v in arrays["decode." + name]]
    if "decode.overtone_intervals" in arrays:
        decode["overtone_intervals"] = [int(v) for v in arrays["decode.overtone_intervals"]]
    return net, decode


def tensors_for_export(model, decode):
    """Name -> numpy array in the weights file's layout."""
    m = model
    out = {
        "l1.weight": m.l1.weight[:, :, 0, 0], "l1.bias": m.l1.bias,
        "l2.weight": m.l2.weight, "l2.bias": m.l2.bias,
        "l3.weight": m.l3.weight, "l3.bias": m.l3.bias,
        "l4.weight": m.l4.weight[:, :, :, 0], "l4.bias": m.l4.bias,
        "l5.weight": m.l5.weight[:, :, :, 0], "l5.bias": m.l5.bias,
    }
    for name in ("onset", "frame", "velocity"):
        out[name + ".weight"] = m.heads[name].weight[0, :, :, 0]
        out[name + ".bias"] = m.head_bias[name]
    arrays = {k: v.detach().cpu().numpy().astype(np.float32) for k, v in out.items()}
    arrays["decode.onset_threshold"] = np.array([decode["onset_threshold"]], np.float32)
    arrays["decode.frame_threshold"] = np.array([decode["frame_threshold"]], np.float32)
    arrays["decode.min_frames"] = np.array([decode["min_frames"]], np.float32)
    arrays["decode.overtone_ratio"] = np.array([decode.get("overtone_ratio", 0.0)], np.float32)
    arrays["decode.overtone_frames"] = np.array([decode.get("overtone_frames", 0)], np.float32)
    arrays["decode.overtone_velocity"] = np.array([decode.get("overtone_velocity", 0.0)], np.float32)
    for name in KEY_SETTINGS:
        if decode.get(name) is not None:
            arrays["decode." + name] = np.array(decode[name], np.float32).reshape(88)
    if decode.get("overtone_intervals") is not None:
        arrays["decode.overtone_intervals"] = np.array(decode["overtone_intervals"], np.float32).reshape(-1)
    return arrays


OVERTONE_INTERVALS = (12, 19, 24)  # unless the decoding names others (overtone_intervals)

# Settings that may be given per key (88 values, lowest key first) beside the ones for every key: name -> type.
KEY_SETTINGS = {"key_onset_threshold": float, "key_frame_threshold": float, "key_min_frames": int}


def key_settings(onset_threshold, frame_threshold, min_frames, key_onset_threshold=None, key_frame_threshold=None,
                 key_min_frames=None, **_):
    """The onset and note-active thresholds (float32, as the weights file stores them) and minimum lengths of the
    88 keys."""
    on_key = np.full(88, onset_threshold, np.float32) if key_onset_threshold is None \
        else np.asarray(key_onset_threshold, np.float32).reshape(88)
    frame_key = np.full(88, frame_threshold, np.float32) if key_frame_threshold is None \
        else np.asarray(key_frame_threshold, np.float32).reshape(88)
    least_key = [int(min_frames)] * 88 if key_min_frames is None else [int(v) for v in key_min_frames]
    return on_key, frame_key, least_key


def key_notes(onset, frame, velocity, keys, on_key, frame_key, least_key):
    """The notes of `keys` before the overtone rule: (pitch, onset s, offset s, velocity, start frame, onset value).
    The thresholds are compared in single precision, as in the program."""
    t_count = onset.shape[0]
    keys = np.asarray(keys, int)
    notes = []
    if not len(keys):
        return notes
    on = onset[:, keys].astype(np.float32)
    prev = np.vstack([np.zeros((1, len(keys)), np.float32), on[:-1]])
    nxt = np.vstack([on[1:], np.zeros((1, len(keys)), np.float32)])
    cand = (on >= on_key[keys][None]) & (on >= prev) & (on > nxt)
    for j in np.nonzero(cand.any(0))[0]:
        k = int(keys[j])
        starts = np.nonzero(cand[:, j])[0]
        active = frame[:, k].astype(np.float32) >= frame_key[k]
        for i, s in enumerate(starts):
            limit = starts[i + 1] if i + 1 < len(starts) else t_count
            e = s + 1
            while e < limit and active[e]:
                e += 1
            if e - s < least_key[k]:
                continue
            # the product in single precision, rounded half to even, as in the program
            v = int(np.clip(np.round(np.float32(127.0) * np.float32(velocity[s, k])), 1, 127))
            notes.append((21 + k, s * 0.01, e * 0.01, v, int(s), float(onset[s, k])))
    return notes


def drop_overtones(notes, among, overtone_ratio, overtone_frames, overtone_velocity=0.0,
                   overtone_intervals=OVERTONE_INTERVALS):
    """`notes` (as key_notes gives them) without those the overtone rule takes for overtones of a note of `among`."""
    # the ratio as the weights file stores it, the product in double precision as in the program
    ratio = float(np.float32(overtone_ratio))
    loudness = float(np.float32(overtone_velocity))
    starts = {}
    for n in among:
        starts.setdefault(n[0], []).append((n[4], n[5], n[3]))
    return [n for n in notes
            if not any(n[5] < ratio * value and (loudness <= 0 or n[3] < loudness * vel)
                       for lower in overtone_intervals
                       for frame_, value, vel in starts.get(n[0] - lower, ()) if abs(frame_ - n[4]) <= overtone_frames)]


def decode(onset, frame, velocity, onset_threshold, frame_threshold, min_frames, overtone_ratio=0.0,
           overtone_frames=0, overtone_velocity=0.0, key_onset_threshold=None, key_frame_threshold=None,
           key_min_frames=None, overtone_intervals=OVERTONE_INTERVALS):
    """Notes (pitch, onset s, offset s, velocity) from the outputs [T, 88], as the program decodes them.

    key_onset_threshold, key_frame_threshold and key_min_frames (88 values each) replace the setting of the same
    name for each key. With overtone_ratio > 0 a note is dropped as an overtone when a note 12, 19 or 24 keys
    lower (or as many as overtone_intervals give) starts within overtone_frames frames of it and its onset value
    is below overtone_ratio times that note's; with overtone_velocity > 0 only when its velocity is also below
    overtone_velocity times that note's."""
    settings = key_settings(onset_threshold, frame_threshold, min_frames, key_onset_threshold, key_frame_threshold,
                            key_min_frames)
    notes = key_notes(onset, frame, velocity, range(88), *settings)
    if overtone_ratio > 0:
        notes = drop_overtones(notes, notes, overtone_ratio, overtone_frames, overtone_velocity,
                               [int(v) for v in overtone_intervals])
    notes = [n[:4] for n in notes]
    notes.sort(key=lambda n: (n[1], n[0]))
    return notes
