#!/usr/bin/env bash
# Load measurement of the HTTP front end with wrk: the bare root answer, and whole receipts
# through the text-file driver (each one a file). Runs the real program in a scratch folder
# on loopback, for a few seconds per case, and stops it again.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

scripts/setup.sh
command -v wrk >/dev/null || {
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq wrk
}
cmake --preset default >/dev/null
cmake --build --preset default --target Tillvane_se -j "$(nproc)"

port="${BENCH_PORT:-18088}"
seconds="${BENCH_SECONDS:-5}"
work="$root/build/bench"
rm -rf "$work" && mkdir -p "$work/receipts"
cp build/default/service/Tillvane_se "$work/"
printf 'driverModel=SELLTEXT\noutputFolder=%s\nTVA_GROUPS=A:1|B:2\ntcpPort=%s\n' \
    "$work/receipts" "$port" >"$work/Tillvane_se.ini"
cat >"$work/receipt.lua" <<'LUA'
wrk.method = "POST"
wrk.body = "CMD=BS%7CSI%5EApa%5E2.50%5E2%5EA%7CAP%5E0%5E5.00%7CES"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
LUA

(cd "$work" && exec ./Tillvane_se >/dev/null) &
service=$!
trap 'kill -TERM $service 2>/dev/null; wait $service 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    curl -s -o /dev/null "http://127.0.0.1:$port/" && break
    sleep 0.05
done

echo "== GET / (bare answer)"
wrk -t2 -c16 -d"${seconds}s" "http://127.0.0.1:$port/"
echo "== POST /REGCMD (one receipt file per request)"
wrk -t2 -c16 -d"${seconds}s" -s "$work/receipt.lua" "http://127.0.0.1:$port/REGCMD"
echo "receipt files written: $(find "$work/receipts" -name 'BON_*.txt' | wc -l)"
echo "resident memory (KiB): $(ps -o rss= -p $service)"
