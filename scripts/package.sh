#!/usr/bin/env bash
# Builds the packages: the Debian package (build/default/packages/tillvane_*.deb), the
# Windows zip (build/windows/packages/tillvane-*-windows-x64.zip) and beside it the Windows
# installer (tillvane-*-windows-x64.msi, scripts/build-msi.sh). PRESETS picks fewer,
# e.g. PRESETS=default for the .deb alone.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in ${PRESETS:-default windows}; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "${JOBS:-$(nproc)}" --target Tillvane_se
    (cd "build/$preset" && cpack --config CPackConfig.cmake)
    if [ "$preset" == windows ]; then
        scripts/setup.sh wixl msitools
        version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt)"
        scripts/build-msi.sh build/windows/service/Tillvane_se.exe build/windows/windows-texts \
            "$version" "build/windows/packages/tillvane-$version-windows-x64.msi"
    fi
done
ls -l build/*/packages/
