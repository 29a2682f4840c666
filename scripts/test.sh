#!/usr/bin/env bash
# Installs what Notavox needs, builds it and runs every test: once in an
# optimised build (build/), whose install and Debian package are checked, and
# once under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/).
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
