#!/usr/bin/env bash
# Installs what Notavox needs, builds it and runs every test: once in an
# optimised build (build/), whose install and Debian package are checked, and
# once under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/);
# then the tests that start threads once more under ThreadSanitizer
# (build-tsan/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
# The install into a temporary prefix and the Debian package.
bash scripts/check-install.sh build

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DNOTAVOX_SANITIZE=ON -DNOTAVOX_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"

# ThreadSanitizer: block population and the parallel WAV read, the note
# detection, the converter's workers (the tests run the converter built with
# it), CD reading and playback through a private sound server.
tsan_tests="audio_tests transcription_tests cli_tests cdrom_tests playback_sound_server_tests"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNOTAVOX_TSAN=ON -DNOTAVOX_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$jobs" --target $tsan_tests notavox-convert
ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L "^($(echo $tsan_tests | tr ' ' '|'))\$"
