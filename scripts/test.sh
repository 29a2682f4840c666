#!/usr/bin/env bash
# Installs what Notavox needs, builds it and runs every test: once in an
# optimised build (build/), whose install and Debian package are checked, and
# once under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/);
# then the tests that start threads once more under ThreadSanitizer
# (build-tsan/). Prints how long each stage took.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen

started=$SECONDS
stage() {
  local name="$1" t0=$SECONDS
  shift
  "$@"
  printf 'test.sh: %-22s %4d s (%d s in all)\n' "$name" $((SECONDS - t0)) $((SECONDS - started))
}

stage "packages" bash scripts/install-deps.sh

# Every build is a unity build (see CMakeLists.txt): each target's sources
# are compiled a few at a time as one unit, and the test binaries share
# precompiled headers (NOTAVOX_PCH): about half the compile time.
unity="-DCMAKE_UNITY_BUILD=ON -DNOTAVOX_PCH=ON"
release() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release $unity >/dev/null
  cmake --build build -j"$jobs"
}
stage "release build" release
stage "release tests" ctest --test-dir build --output-on-failure -j"$jobs"
# The install into a temporary prefix and the Debian package.
stage "install and package" bash scripts/check-install.sh build

# The sanitizer builds carry line tables only (-g1): enough for the file and
# line of every frame in a report, and a fifth less compile time than -g.
sanitized() {
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
        -DNOTAVOX_SANITIZE=ON -DNOTAVOX_BENCH=OFF $unity >/dev/null
  cmake --build build-asan -j"$jobs"
}
stage "asan/ubsan build" sanitized
stage "asan/ubsan tests" ctest --test-dir build-asan --output-on-failure -j"$jobs"

# ThreadSanitizer: block population and the parallel WAV read, the note
# detection, the converter's workers (the tests run the converter built with
# it), CD reading and playback through a private sound server.
tsan_tests="audio_tests transcription_tests cli_tests cdrom_tests playback_sound_server_tests"
threaded() {
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
        -DNOTAVOX_TSAN=ON -DNOTAVOX_BENCH=OFF $unity >/dev/null
  cmake --build build-tsan -j"$jobs" --target $tsan_tests notavox-convert
}
stage "tsan build" threaded
stage "tsan tests" ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L "^($(echo $tsan_tests | tr ' ' '|'))\$"
