#!/usr/bin/env bash
# Builds the packages: the Debian package (build/default/packages/tillvane_*.deb) and the
# Windows zip (build/windows/packages/tillvane-*-windows-x64.zip). PRESETS picks fewer,
# e.g. PRESETS=default for the .deb alone.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in ${PRESETS:-default windows}; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "${JOBS:-$(nproc)}" --target Tillvane_se
    (cd "build/$preset" && cpack --config CPackConfig.cmake)
done
ls -l build/*/packages/
