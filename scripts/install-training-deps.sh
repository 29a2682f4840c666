#!/usr/bin/env bash
# Installs the Debian packages that training the recogniser needs (never needed to build, run or test the
# program). Idempotent: prints nothing and changes nothing when all are present.
set -euo pipefail
source "$(dirname "$0")/install-packages.sh"

install_packages \
  python3 python3-torch python3-numpy python3-scipy python3-mido python3-mir-eval \
  libopenblas0-pthread fluidsynth lame \
  timgm6mb-soundfont musescore-general-soundfont musescore-general-soundfont-small csound-soundfont opl3-soundfont
