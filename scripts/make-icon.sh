#!/usr/bin/env bash
# Draws the program's icon as PNG files in the sizes a desktop asks for, with
# the same shapes as data/icons/notavox.svg: the green waveform on the view's
# dark red, the cyan marker and a note in the selection colour. The PNGs are
# kept in the repository; run this after changing the drawing.
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
convert=$(command -v convert-im6.q16 || command -v convert)
"$convert" -size 256x256 xc:none \
  -fill '#600000' -stroke '#2a0000' -strokewidth 6 -draw 'roundrectangle 8,8 247,247 40,40' \
  -fill none -stroke '#00ff00' -strokewidth 10 -draw 'stroke-linejoin round stroke-linecap round polyline 28,128 40,100 52,156 64,84 76,172 88,96 100,150 112,118 124,128' \
  -stroke '#00ffff' -strokewidth 6 -draw 'line 124,128 132,128' \
  -stroke none -fill '#8080ff' -draw 'translate 168,178 rotate -24 ellipse 0,0 30,21 0,360' \
  -draw 'rectangle 187,58 198,176' \
  -draw 'path "M 199 58 C 214 74 238 84 230 122 C 226 104 214 96 199 94 Z"' \
  notavox-256.png
for s in 16 32 48 64 128; do
  "$convert" notavox-256.png -filter Lanczos -resize "${s}x${s}" "notavox-$s.png"
done
