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
