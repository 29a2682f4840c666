#!/usr/bin/env bash
# Makes the fuzzers' seed corpus (tests/fuzz/corpus) from the kinds of files
# the tests use: small WAV files of every accepted format and of the refused
# ones, MP3 files plain, tagged, wrapped in RIFF and damaged. Inputs that
# crashed a reader are added to the folder by hand under crash-<what>.
set -euo pipefail
cd "$(dirname "$0")/corpus"
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT

sox -n -r 8000 -c 1 -b 8 wav-8bit-mono.wav synth 0.25 sine 440
sox -n -r 22050 -c 2 -b 16 wav-16bit-stereo.wav synth 0.25 sine 440 sine 660
sox -n -r 44100 -c 1 -b 24 wav-24bit.wav synth 0.05 sine 440
sox -n -r 44100 -c 1 -e floating-point -b 32 wav-float.wav synth 0.05 sine 440
# 16-bit mono whose header says 1 Hz, and one that says 0 Hz.
python3 - <<'PY'
import struct
def wav(name, rate, channels, bits, data, extra=b''):
    fmt = struct.pack('<HHIIHH', 1, channels, rate, rate * channels * bits // 8, channels * bits // 8, bits)
    body = b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt + extra + b'data' + struct.pack('<I', len(data)) + data
    open(name, 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)
wav('wav-1hz.wav', 1, 1, 16, bytes(range(200)) * 1)
wav('wav-0hz.wav', 0, 2, 16, bytes(400))
wav('wav-list-chunk.wav', 11025, 1, 8, bytes(i % 251 for i in range(3000)),
    extra=b'LIST' + struct.pack('<I', 10) + b'INFOabcdef')
full = open('wav-16bit-stereo.wav', 'rb').read()
open('wav-truncated.wav', 'wb').write(full[:len(full) // 3])
PY

sox -n -r 44100 -c 2 -b 16 "$t/s.wav" synth 0.3 sine 440 sine 660
sox -n -r 22050 -c 1 -b 16 "$t/m.wav" synth 0.3 sine 440
lame --quiet -b 128 "$t/s.wav" mp3-stereo.mp3
lame --quiet -b 32 -m m "$t/m.wav" mp3-mono-22050.mp3
lame --quiet -b 64 --add-id3v2 --tt Lied "$t/m.wav" mp3-id3v2.mp3
python3 - <<'PY'
import struct, random
mp3 = open('mp3-stereo.mp3', 'rb').read()
# RIFF-wrapped: a WAVEFORMATEX with the MPEG Layer-3 tag, then the data.
fmt = struct.pack('<HHIIHHH', 0x55, 2, 44100, 16000, 1, 0, 12) + struct.pack('<HIHHH', 1, 2, 417, 1, 1393)
body = b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt + b'data' + struct.pack('<I', len(mp3)) + mp3
open('mp3-riff-wrapped.mp3', 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)
r = random.Random(12)
noise = bytes(r.randrange(256) for _ in range(6000))
open('mp3-trailing-garbage.mp3', 'wb').write(mp3 + noise)
flipped = bytearray(mp3)
for i in range(100, len(flipped), 300):
    flipped[i] ^= 0x5A
open('mp3-damaged.mp3', 'wb').write(bytes(flipped))
open('mp3-truncated.mp3', 'wb').write(mp3[:len(mp3) // 2 + 77])
open('random-bytes', 'wb').write(noise)
PY

# The accurate conversion's seeds (corpus-accurate): short WAV files in the
# formats and rates a user has, with notes, silence and damage.
cd ../corpus-accurate
sox -n -r 16000 -c 1 -b 16 "$t/p.wav" synth 0.3 pluck C4 pluck E4 pluck G4 remix -
sox "$t/p.wav" acc-plucked-chords-16000.wav pad 0.05 0 repeat 1
python3 - <<'PY'
import math, struct
def wav(name, rate, channels, bits, frames, extra=b'', cut=None):
    data = bytearray()
    for i, f in enumerate(frames):
        for c in range(channels):
            v = max(-1.0, min(1.0, f[c] if isinstance(f, tuple) else f))
            data += struct.pack('<h', int(v * 32767)) if bits == 16 else bytes([int(v * 127) + 128])
    fmt = struct.pack('<HHIIHH', 1, channels, rate, rate * channels * bits // 8, channels * bits // 8, bits)
    body = b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt + extra + b'data' + struct.pack('<I', len(data)) + bytes(data)
    out = b'RIFF' + struct.pack('<I', len(body)) + body
    open(name, 'wb').write(out if cut is None else out[:cut])
def tones(rate, seconds, keys, start=0.0):
    f = [440 * 2 ** ((k - 69) / 12) for k in keys]
    n = int(rate * seconds)
    return [0.0 if i < start * rate else sum(0.3 * math.sin(2 * math.pi * x * i / rate) for x in f) * math.exp(-3 * (i / rate - start))
            for i in range(n)]
wav('acc-notes-22050-stereo8.wav', 22050, 2, 8, [(a, a * 0.5) for a in tones(22050, 0.3, [72])])
wav('acc-low-8000-mono8.wav', 8000, 1, 8, tones(8000, 0.5, [36, 48]))
wav('acc-silence-44100.wav', 44100, 1, 16, [0.0] * 4410)
wav('acc-full-scale-square.wav', 11025, 1, 16, [1.0 if (i // 20) % 2 else -1.0 for i in range(2756)])
wav('acc-truncated.wav', 16000, 1, 16, tones(16000, 0.4, [69]), cut=3000)
wav('acc-one-frame.wav', 16000, 2, 16, [(0.5, -0.5)])
wav('acc-no-frames.wav', 16000, 1, 16, [])
wav('acc-0hz.wav', 0, 1, 16, [0.1] * 200)
PY

# The weights reader's seeds (corpus-model): the shipped model is replayed
# from recognition/model; here a consistent small model with one channel per
# layer, and damaged ones.
cd ../corpus-model
python3 - <<'PY'
import struct
def model(tensors, order=None):
    out = b'NVNM' + struct.pack('<II', 1, len(tensors))
    for name, dims, values in tensors:
        out += struct.pack('<H', len(name)) + name.encode() + struct.pack('<B', len(dims))
        out += b''.join(struct.pack('<I', d) for d in dims)
        out += b''.join(struct.pack('<f', v) for v in values)
    return out
def size(dims):
    n = 1
    for d in dims: n *= d
    return n
def small(c=1, onset=0.5, frame=0.3, min_frames=3.0, bad=None):
    shapes = [('l1.weight', [c, 8]), ('l1.bias', [c]), ('l2.weight', [c, c, 3, 3]), ('l2.bias', [c]),
              ('l3.weight', [c, c, 3, 3]), ('l3.bias', [c]), ('l4.weight', [c, c, 3]), ('l4.bias', [c]),
              ('l5.weight', [c, c, 3]), ('l5.bias', [c]), ('onset.weight', [c, 3]), ('onset.bias', [88]),
              ('frame.weight', [c, 3]), ('frame.bias', [88]), ('velocity.weight', [c, 3]), ('velocity.bias', [88]),
              ('decode.onset_threshold', [1]), ('decode.frame_threshold', [1]), ('decode.min_frames', [1])]
    fixed = {'decode.onset_threshold': onset, 'decode.frame_threshold': frame, 'decode.min_frames': min_frames}
    tensors = []
    for i, (name, dims) in enumerate(shapes):
        values = [fixed[name]] if name in fixed else [((i * 7 + j * 3) % 11 - 5) / 10 for j in range(size(dims))]
        tensors.append((name, dims, values))
    if bad: bad(tensors)
    return model(tensors)
open('model-one-channel.nvm', 'wb').write(small())
open('model-three-channels-low-thresholds.nvm', 'wb').write(small(3, onset=0.01, frame=0.01, min_frames=0))
def wrong_shape(t): t[2] = ('l2.weight', [1, 2, 3, 3], [0.0] * 18)
open('model-wrong-shape.nvm', 'wb').write(small(bad=wrong_shape))
def missing(t): del t[11]
open('model-missing-tensor.nvm', 'wb').write(small(bad=missing))
full = small(2)
open('model-truncated.nvm', 'wb').write(full[:len(full) // 2])
open('model-header-only.nvm', 'wb').write(full[:12])
open('model-trailing-bytes.nvm', 'wb').write(full + b'\0\0\0\0')
nan = bytearray(full)
nan[-8:-4] = struct.pack('<f', float('nan'))
open('model-nan.nvm', 'wb').write(bytes(nan))
huge = bytearray(full)
huge[16 + len('l1.weight') + 1:16 + len('l1.weight') + 5] = struct.pack('<I', 0xFFFFFFFF)
open('model-huge-dimension.nvm', 'wb').write(bytes(huge))
PY
