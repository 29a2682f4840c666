#!/usr/bin/env bash
# Draws the about box picture (app/about.jpg): a waveform turning into notes
# on a staff. Everything in it is drawn here; run it again to remake it.
set -euo pipefail
out="${1:-$(dirname "$0")/../app/about.jpg}"
w=306; h=322
wave=""
for x in $(seq 0 2 150); do
  y=$(awk -v x="$x" 'BEGIN{printf "%d", 110 + 40*sin(x/9.0)*exp(-x/140.0)*cos(x/31.0)}')
  wave="$wave $x,$y"
done
convert -size ${w}x${h} gradient:'#1b2a59'-'#f0caa6' \
  \( -size ${w}x${h} plasma:'#2b3f7f'-'#6a3a70' -blur 0x6 \) -compose overlay -composite \
  -stroke '#7cf0a0' -strokewidth 3 -fill none -draw "polyline $wave" \
  -stroke '#f8f0e0' -strokewidth 2 \
  -draw "line 150,80 296,80" -draw "line 150,95 296,95" -draw "line 150,110 296,110" \
  -draw "line 150,125 296,125" -draw "line 150,140 296,140" \
  -stroke none -fill '#f8f0e0' \
  -draw "ellipse 170,118 8,6 0,360" -draw "ellipse 200,103 8,6 0,360" -draw "ellipse 230,125 8,6 0,360" \
  -draw "ellipse 260,95 8,6 0,360" -draw "ellipse 284,110 8,6 0,360" \
  -stroke '#f8f0e0' -strokewidth 2 \
  -draw "line 177,118 177,72" -draw "line 207,103 207,57" -draw "line 237,125 237,79" \
  -draw "line 267,95 267,49" -draw "line 291,110 291,64" \
  -stroke none -fill '#f8f0e0' -pointsize 34 -gravity south -annotate +0+48 'Notavox' \
  -pointsize 14 -annotate +0+28 'Musik wird MIDI' \
  -quality 97 "$out"
