"""The recogniser's front end in numpy: the same definition as the program's C++ front end.

mono float -> peak normalisation -> 16 kHz -> STFT (2048, hop 160, Hann) -> 294 log-frequency bins
(3 per semitone from A0) -> log compression.
"""
import math
from fractions import Fraction

import numpy as np
from scipy.signal import resample_poly

RATE = 16000
N_FFT = 2048
HOP = 160
BINS = 294
KEYS = 88
FIRST_KEY = 21
HARMONIC_SHIFTS = [-36, 0, 36, 57, 72, 84, 93, 101]
STACK_BINS = 264


def mono(samples):
    """samples: int16 array [n] or [n, 2]; returns float32 mono."""
    x = samples.astype(np.float32) / np.float32(32768.0)
    if x.ndim == 2:
        x = (x[:, 0] + x[:, 1]) * np.float32(0.5)
    return x


def normalise(x):
    p = float(np.max(np.abs(x))) if len(x) else 0.0
    if p > 0:
        x = x * np.float32(1.0 / np.float32(p))
    return x.astype(np.float32)


def resample(x, rate):
    if rate == RATE:
        return x
    f = Fraction(RATE, rate)
    return resample_poly(x.astype(np.float64), f.numerator, f.denominator).astype(np.float32)


# Three window lengths: the long one where keys lie close together, shorter ones above (onsets sharper in time).
TIERS = [(2048, None, 72), (1024, 72, 84), (512, 84, None)]  # (n_fft, first key, end key) by bin centre


def filterbank(n_fft, lo_key, hi_key):
    def freq(m):
        return 440.0 * 2.0 ** ((m - 69.0) / 12.0)
    df = RATE / n_fft
    fk = np.arange(n_fft // 2 + 1) * df
    w = np.zeros((BINS, n_fft // 2 + 1), dtype=np.float64)
    for j in range(BINS):
        m = FIRST_KEY + (j - 1) / 3.0
        if (lo_key is not None and m < lo_key - 1e-9) or (hi_key is not None and m >= hi_key - 1e-9):
            continue
        fc = freq(m)
        lo = min(freq(m - 1.0 / 3.0), fc - df)
        hi = max(freq(m + 1.0 / 3.0), fc + df)
        up = (fk > lo) & (fk <= fc)
        down = (fk > fc) & (fk < hi)
        w[j, up] = (fk[up] - lo) / (fc - lo)
        w[j, down] = (hi - fk[down]) / (hi - fc)
        w[j] /= w[j].sum()
    return w.astype(np.float32)


_FB = None


def spectrogram(x16k):
    """x16k: float32 at 16 kHz. Returns float32 [T, 294] features."""
    global _FB
    if _FB is None:
        _FB = [(n, filterbank(n, a, b), (0.5 - 0.5 * np.cos(2 * np.pi * np.arange(n) / n)).astype(np.float32))
               for n, a, b in TIERS]
    n = len(x16k)
    if n == 0:
        return np.zeros((0, BINS), np.float32)
    t_count = n // HOP + 1
    padded = np.zeros(t_count * HOP + N_FFT, np.float32)
    padded[N_FFT // 2:N_FFT // 2 + n] = x16k
    out = np.empty((t_count, BINS), np.float32)
    block = 4096
    scale = np.float32(1.0 / np.log(10001.0))
    for s in range(0, t_count, block):
        e = min(t_count, s + block)
        energy = np.zeros((e - s, BINS), np.float32)
        for nf, fb, win in _FB:
            off = (N_FFT - nf) // 2
            idx = (np.arange(s, e) * HOP)[:, None] + off + np.arange(nf)[None, :]
            frames = padded[idx] * win
            mag = (np.abs(np.fft.rfft(frames, axis=1)) / (nf / 4.0)).astype(np.float32)
            energy += mag @ fb.T
        out[s:e] = np.log1p(np.float32(10000.0) * energy) * scale
    return out


def features_from_samples(samples, rate):
    return spectrogram(resample(normalise(mono(samples)), rate))


def stack_harmonics(feat):
    """feat [..., T, 294] -> [..., 8, T, 264] (torch or numpy)."""
    import torch
    t = feat if isinstance(feat, torch.Tensor) else torch.from_numpy(feat)
    planes = []
    for s in HARMONIC_SHIFTS:
        lo, hi = s, s + STACK_BINS
        src_lo, src_hi = max(lo, 0), min(hi, BINS)
        plane = t.new_zeros(t.shape[:-1] + (STACK_BINS,))
        if src_hi > src_lo:
            plane[..., src_lo - lo:src_hi - lo] = t[..., src_lo:src_hi]
        planes.append(plane)
    return torch.stack(planes, dim=-3)
