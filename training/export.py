"""Writes the trained recogniser as the program's weights file, and golden vectors for the C++ tests.

    python3 export.py CHECKPOINT DECODE.json WEIGHTS_OUT GOLDEN_DIR DATA_DIR
"""
import json
import os
import struct
import sys
import zlib

import numpy as np
import torch

import features
import model as model_mod

ORDER = ["l1.weight", "l1.bias", "l2.weight", "l2.bias", "l3.weight", "l3.bias", "l4.weight", "l4.bias",
         "l5.weight", "l5.bias", "onset.weight", "onset.bias", "frame.weight", "frame.bias", "velocity.weight",
         "velocity.bias", "decode.onset_threshold", "decode.frame_threshold", "decode.min_frames",
         "decode.overtone_ratio", "decode.overtone_frames", "decode.overtone_velocity"]


# Written when the decoding has them (a file without them decodes every key alike).
OPTIONAL = ["decode.key_onset_threshold", "decode.key_frame_threshold", "decode.key_min_frames",
            "decode.overtone_intervals"]


def weights_bytes(arrays):
    """The weights file: "NVNM", version 2, the tensors, then the CRC-32 (zlib) of all bytes before it."""
    names = ORDER + [name for name in OPTIONAL if name in arrays]
    out = bytearray(b"NVNM")
    out += struct.pack("<II", 2, len(names))
    for name in names:
        a = np.ascontiguousarray(arrays[name], dtype="<f4")
        out += struct.pack("<H", len(name))
        out += name.encode("ascii")
        out += struct.pack("<B", a.ndim)
        out += struct.pack("<%dI" % a.ndim, *a.shape)
        out += a.tobytes()
    out += struct.pack("<I", zlib.crc32(bytes(out)) & 0xFFFFFFFF)
    return bytes(out)


def write_weights(arrays, path):
    with open(path + ".tmp", "wb") as fh:
        fh.write(weights_bytes(arrays))
    os.replace(path + ".tmp", path)


def write_golden(net, feat, path, decode):
    """The features and outputs (.bin), and beside them (.notes) the notes the decoding finds in these outputs:
    one line per note, MIDI pitch, first and end frame, velocity."""
    with torch.no_grad():
        out = net(torch.from_numpy(feat)[None])
    outputs = {name: torch.sigmoid(out[name][0]).numpy().astype(np.float32) for name in ("onset", "frame", "velocity")}
    with open(path, "wb") as fh:
        fh.write(struct.pack("<II", feat.shape[0], feat.shape[1]))
        fh.write(np.ascontiguousarray(feat, "<f4").tobytes())
        for name in ("onset", "frame", "velocity"):
            fh.write(np.ascontiguousarray(outputs[name], "<f4").tobytes())
    notes = model_mod.decode(outputs["onset"], outputs["frame"], outputs["velocity"], **decode)
    with open(os.path.splitext(path)[0] + ".notes", "w") as fh:
        for pitch, start, end, velocity in notes:
            fh.write(f"{pitch} {round(start * 100)} {round(end * 100)} {velocity}\n")


def main():
    ckpt, decode_path, weights_out, golden_dir, data_dir = sys.argv[1:6]
    torch.set_num_threads(2)
    net = model_mod.Recogniser()
    net.load_state_dict(torch.load(ckpt)["model"])
    net.eval()
    decode = json.load(open(decode_path))
    os.makedirs(os.path.dirname(os.path.abspath(weights_out)), exist_ok=True)
    write_weights(model_mod.tensors_for_export(net, decode), weights_out)
    os.makedirs(golden_dir, exist_ok=True)
    # real features of a validation piece (a few seconds) and a short synthetic edge case
    d = np.load(os.path.join(data_dir, "valid_piano.npz"))
    write_golden(net, d["feat"][1000:1300].astype(np.float32), os.path.join(golden_dir, "golden_piano.bin"), decode)
    # two seconds of real music: those of the validation excerpts with the most notes from C6 up
    real = np.load(os.path.join(data_dir, "valid_real.npz"))
    high = real["notes"][real["notes"][:, 1] >= 84]
    best = (-1, 0)
    for idx, (a, b) in enumerate(real["bounds"]):
        starts = np.sort(a + np.round(high[high[:, 0] == idx][:, 2] * 100).astype(int))
        for first in range(a, b - 200, 50):
            count = int(np.sum((starts >= first + 10) & (starts < first + 190)))
            best = max(best, (count, -first))
    first = -best[1]
    write_golden(net, real["feat"][first:first + 200].astype(np.float32), os.path.join(golden_dir, "golden_real.bin"),
                 decode)
    rng = np.random.default_rng(5)
    short = rng.uniform(0, 1, (7, features.BINS)).astype(np.float32)
    write_golden(net, short, os.path.join(golden_dir, "golden_short.bin"), decode)
    print("weights:", weights_out, os.path.getsize(weights_out), "bytes")


if __name__ == "__main__":
    main()
