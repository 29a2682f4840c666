"""Writes the front end's fixture for the C++ tests: fixed signals and the features features.py makes of them,
so that the program's front end is checked against the definition the network learnt from.

    python3 frontend_fixture.py OUT.bin

Each case: rate, channels, frames (uint32), the 16-bit samples, then frames, bins (uint32) and the features
(float32, [T][294]). Cases: 44.1 kHz stereo and 48 kHz mono, with tones from A0 to C8, a tone above the
16 kHz signal's band, noise and a loud onset in the middle.
"""
import struct
import sys

import numpy as np

import features


def signal(rate, channels, seconds, seed):
    rng = np.random.default_rng(seed)
    n = int(rate * seconds)
    t = np.arange(n) / rate
    x = np.zeros(n)
    for midi, level in ((21, 0.2), (45, 0.15), (69, 0.1), (84, 0.1), (100, 0.08), (108, 0.05)):
        x += level * np.sin(2 * np.pi * 440.0 * 2 ** ((midi - 69) / 12) * t + rng.uniform(0, 6.28))
    x += 0.1 * np.sin(2 * np.pi * 9500.0 * t)  # above 8 kHz: the low-pass removes it
    x += 0.01 * rng.standard_normal(n)
    half = n // 2
    x[half:] += 0.4 * np.sin(2 * np.pi * 659.26 * t[half:]) * np.exp(-3 * t[:n - half])
    out = np.stack([x, 0.7 * x + 0.02 * rng.standard_normal(n)], 1)[:, :channels]
    return np.clip(np.round(out * 20000), -32768, 32767).astype(np.int16)


def main():
    with open(sys.argv[1], "wb") as fh:
        for rate, channels, seconds, seed in ((44100, 2, 0.3, 1), (48000, 1, 0.25, 2)):
            pcm = signal(rate, channels, seconds, seed)
            feat = features.features_from_samples(pcm if channels == 2 else pcm[:, 0], rate)
            fh.write(struct.pack("<III", rate, channels, len(pcm)))
            fh.write(np.ascontiguousarray(pcm, "<i2").tobytes())
            fh.write(struct.pack("<II", *feat.shape))
            fh.write(np.ascontiguousarray(feat, "<f4").tobytes())


if __name__ == "__main__":
    main()
