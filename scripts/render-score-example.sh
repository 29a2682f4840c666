#!/usr/bin/env bash
# Renders the score of the example recording for the README: notavox-convert
# writes the MusicXML, the notation program (mscore3, from install-deps.sh)
# draws its first page, which is cut to the music and saved as
# docs/score-example.png.
#   scripts/render-score-example.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$build/notavox-convert" -q --accurate examples/melody.wav "$work/melody.musicxml"
(cd "$work" && XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen mscore3 -o page.png melody.musicxml >log.txt 2>&1) || {
  cat "$work/log.txt" >&2
  exit 1
}
convert "$work/page-1.png" -background white -flatten -trim +repage -bordercolor white -border 60 -resize '1400x>' \
  docs/score-example.png
echo "docs/score-example.png"
