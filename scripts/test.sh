#!/usr/bin/env bash
# Builds the project and runs every test (unit and end-to-end) with ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
preset="${PRESET:-default}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)" "$@"
