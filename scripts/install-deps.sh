#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Notavox
# needs. Idempotent: prints nothing and changes nothing when all are present.
set -euo pipefail
source "$(dirname "$0")/install-packages.sh"

install_packages \
  build-essential cmake pkg-config \
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev \
  portaudio19-dev libasound2-plugins libpulse-dev \
  libmpg123-dev libmp3lame-dev libjpeg62-turbo-dev \
  libgtest-dev libgmock-dev googletest libbenchmark-dev \
  fluidsynth libfluidsynth-dev timgm6mb-soundfont \
  sox libsox-fmt-mp3 mpg123 lame python3 python3-mido \
  xvfb xauth xdotool imagemagick x11-utils \
  pulseaudio pulseaudio-utils \
  groff-base man-db clang \
  fonts-dejavu-core \
  desktop-file-utils \
  zlib1g-dev musescore3
