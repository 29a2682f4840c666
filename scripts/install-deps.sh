#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Notavox
# needs. Idempotent: prints nothing and changes nothing when all are present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  portaudio19-dev libasound2-plugins
  libmpg123-dev libmp3lame-dev libjpeg62-turbo-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libsamplerate0-dev fluidsynth libfluidsynth-dev timgm6mb-soundfont
  sox libsox-fmt-mp3 mpg123 lame python3 python3-mido
  fluidsynth timgm6mb-soundfont
  xvfb xauth xdotool imagemagick x11-utils
  pulseaudio pulseaudio-utils
  fonts-dejavu-core
  desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
