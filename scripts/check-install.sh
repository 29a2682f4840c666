#!/usr/bin/env bash
# Installs a built tree (default build/) into a temporary prefix, checks the
# files a desktop and a shell need, then builds the Debian package and checks
# what it holds and declares.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/notavox bin/notavox-convert \
         share/applications/notavox.desktop \
         share/icons/hicolor/scalable/apps/notavox.svg \
         share/icons/hicolor/16x16/apps/notavox.png share/icons/hicolor/32x32/apps/notavox.png \
         share/icons/hicolor/48x48/apps/notavox.png share/icons/hicolor/64x64/apps/notavox.png \
         share/icons/hicolor/128x128/apps/notavox.png share/icons/hicolor/256x256/apps/notavox.png \
         share/man/man1/notavox-convert.1; do
  [ -s "$prefix/$f" ] || { echo "check-install: $f is missing" >&2; exit 1; }
done
if [ -f recognition/model/notes.nvm ]; then
  [ -s "$prefix/share/notavox/notes.nvm" ] || { echo "check-install: the model is missing" >&2; exit 1; }
  [ ! -e "$prefix/share/notavox/model" ] || { echo "check-install: the model is installed twice" >&2; exit 1; }
fi
[ -x "$prefix/bin/notavox" ] && [ -x "$prefix/bin/notavox-convert" ]
desktop-file-validate "$prefix/share/applications/notavox.desktop"
grep -q '^MimeType=.*audio/x-wav.*audio/mpeg' "$prefix/share/applications/notavox.desktop"
"$prefix/bin/notavox-convert" --help | grep -q 'notavox-convert'
if command -v man >/dev/null; then
  warnings="$(man --warnings -l -Tutf8 "$prefix/share/man/man1/notavox-convert.1" 2>&1 >/dev/null || true)"
  [ -z "$warnings" ] || { echo "check-install: man page: $warnings" >&2; exit 1; }
fi

(cd "$build" && rm -f notavox_*.deb && cpack -G DEB >/dev/null)
deb="$(ls "$build"/notavox_*.deb)"
contents="$(dpkg-deb -c "$deb")"
for f in ./usr/bin/notavox ./usr/bin/notavox-convert ./usr/share/applications/notavox.desktop \
         ./usr/share/icons/hicolor/48x48/apps/notavox.png ./usr/share/man/man1/notavox-convert.1; do
  grep -q " $f\$" <<<"$contents" || { echo "check-install: the package lacks $f" >&2; exit 1; }
done
depends="$(dpkg-deb -f "$deb" Depends)"
for d in libqt6widgets6 libportaudio2 libpulse0 libmpg123-0 libmp3lame0 libjpeg62-turbo qt6-qpa-plugins; do
  grep -q "$d" <<<"$depends" || { echo "check-install: the package does not depend on $d" >&2; exit 1; }
done
echo "check-install: $(basename "$deb") installs and declares what it needs"
