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
OPTIONAL = ["decode.key_onset_threshold", "decode.key_frame_threshold", "decode.key_min_frames"]


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


def write_golden(net, feat, path):
    with torch.no_grad():
        out = net(torch.from_numpy(feat)[None])
    with open(path, "wb") as fh:
        fh.write(struct.pack("<II", feat.shape[0], feat.shape[1]))
        fh.write(np.ascontiguousarray(feat, "<f4").tobytes())
        for name in ("onset", "frame", "velocity"):
            fh.write(np.ascontiguousarray(torch.sigmoid(out[name][0]).numpy(), "<f4").tobytes())


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
    write_golden(net, d["feat"][1000:1300].astype(np.float32), os.path.join(golden_dir, "golden_piano.bin"))
    rng = np.random.default_rng(5)
    short = rng.uniform(0, 1, (7, features.BINS)).astype(np.float32)
    write_golden(net, short, os.path.join(golden_dir, "golden_short.bin"))
    print("weights:", weights_out, os.path.getsize(weights_out), "bytes")


if __name__ == "__main__":
    main()
