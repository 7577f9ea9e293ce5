#!/usr/bin/env bash
# Builds the project and runs every test with ctest: the Linux build (unit and end-to-end),
# then the Windows build, cross-compiled, with its unit tests and the service under Wine.
# PRESETS picks other builds, e.g. PRESETS=default for Linux alone.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests
for preset in ${PRESETS:-default windows}; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)"
    ctest --preset "$preset" -j "$(nproc)" "$@"
done
