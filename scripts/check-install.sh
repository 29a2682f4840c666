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
         share/man/man1/notavox.1.gz share/man/man1/notavox-convert.1.gz; do
  [ -s "$prefix/$f" ] || { echo "check-install: $f is missing" >&2; exit 1; }
done
if [ -f recognition/model/notes.nvm ]; then
  [ -s "$prefix/share/notavox/notes.nvm" ] || { echo "check-install: the model is missing" >&2; exit 1; }
  [ ! -e "$prefix/share/notavox/model" ] || { echo "check-install: the model is installed twice" >&2; exit 1; }
fi
[ -x "$prefix/bin/notavox" ] && [ -x "$prefix/bin/notavox-convert" ]
desktop-file-validate "$prefix/share/applications/notavox.desktop"
grep -q '^MimeType=.*audio/x-wav.*audio/mpeg' "$prefix/share/applications/notavox.desktop"
# Every pipe here is read to its end: grep -q would stop reading at the first
# match and, with pipefail, the writer's SIGPIPE would fail the check.
"$prefix/bin/notavox-convert" --help | grep 'notavox-convert' >/dev/null

# The man pages: compressed without a name or a time in the header (the same
# bytes on every build), no page left uncompressed, rendered without a
# warning, with a NAME line that whatis can read, and every option the
# converter's help names described in its page.
for page in notavox notavox-convert; do
  gz="$prefix/share/man/man1/$page.1.gz"
  [ ! -e "$prefix/share/man/man1/$page.1" ] || { echo "check-install: $page.1 is installed uncompressed" >&2; exit 1; }
  gzip -t "$gz" || { echo "check-install: $page.1.gz is no gzip file" >&2; exit 1; }
  header="$(head -c 8 "$gz" | od -An -tx1 | tr -d ' \n')"
  [ "${header:6:2}" = 00 ] && [ "${header:8:8}" = 00000000 ] ||
    { echo "check-install: $page.1.gz carries a name or a time ($header)" >&2; exit 1; }
  source_page="$(gzip -dc "$gz")"
  warnings="$(groff -k -ww -z -man -Tutf8 <<<"$source_page" 2>&1 || true)"
  if command -v man >/dev/null; then
    warnings+="$(man --warnings -l -Tutf8 "$gz" 2>&1 >/dev/null || true)"
  fi
  [ -z "$warnings" ] || { echo "check-install: man page $page: $warnings" >&2; exit 1; }
  if command -v lexgrog >/dev/null; then
    lexgrog "$gz" | grep "\"$page - " >/dev/null || { echo "check-install: $page(1) has no NAME line for whatis" >&2; exit 1; }
  fi
done
documented="$(gzip -dc "$prefix/share/man/man1/notavox-convert.1.gz" | sed 's/\\-/-/g')"
for option in $("$prefix/bin/notavox-convert" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  grep -q -- "$option" <<<"$documented" ||
    { echo "check-install: the man page of notavox-convert does not describe $option" >&2; exit 1; }
done

(cd "$build" && rm -f notavox_*.deb && cpack -G DEB >/dev/null)
deb="$(ls "$build"/notavox_*.deb)"
contents="$(dpkg-deb -c "$deb")"
for f in ./usr/bin/notavox ./usr/bin/notavox-convert ./usr/share/applications/notavox.desktop \
         ./usr/share/icons/hicolor/48x48/apps/notavox.png ./usr/share/man/man1/notavox.1.gz \
         ./usr/share/man/man1/notavox-convert.1.gz; do
  grep -q " $f\$" <<<"$contents" || { echo "check-install: the package lacks $f" >&2; exit 1; }
done
depends="$(dpkg-deb -f "$deb" Depends)"
for d in libqt6widgets6 libportaudio2 libpulse0 libmpg123-0 libmp3lame0 libjpeg62-turbo qt6-qpa-plugins; do
  grep -q "$d" <<<"$depends" || { echo "check-install: the package does not depend on $d" >&2; exit 1; }
done
echo "check-install: $(basename "$deb") installs and declares what it needs"
