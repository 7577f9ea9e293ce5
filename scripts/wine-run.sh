#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix: the emulator of the Windows
# build's tests. The prefix is made on first use (one caller at a time) and kept.
#   WINEPREFIX   the prefix (default: build/windows/wineprefix at the repository root)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/windows/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
wine=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/.tillvane-ready" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.tillvane-ready" ]; then
        "$wine" wineboot -i >/dev/null 2>&1
        /usr/lib/wine/wineserver -w
        touch "$WINEPREFIX/.tillvane-ready"
    fi
    flock -u 9
    exec 9>&-
fi
exec "$wine" "$@"
