#!/usr/bin/env bash
# Installs the Debian packages that training the recogniser needs (never needed to build, run or test the
# program). Idempotent: prints nothing and changes nothing when all are present.
set -euo pipefail
packages=(
  python3 python3-torch python3-numpy python3-scipy python3-mido python3-mir-eval
  libopenblas0-pthread fluidsynth
  timgm6mb-soundfont musescore-general-soundfont musescore-general-soundfont-small csound-soundfont opl3-soundfont
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
