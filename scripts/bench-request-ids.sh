#!/usr/bin/env bash
# Figures, not a test: what request ids cost. Whole receipts through the text-file driver
# under wrk, without and with a new REQUESTID each (every request is journaled and flushed to
# disk before it is answered; an id adds a flushed start record before the receipt runs), then
# the service started on a journal of 100,000 ids, with its resident memory.
# BENCH_SECONDS (default 5) per case, BENCH_PORT (default 18092).
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

port="${BENCH_PORT:-18092}"
seconds="${BENCH_SECONDS:-5}"
work="$root/build/bench-request-ids"
rm -rf "$work" && mkdir -p "$work/receipts"
cp build/default/service/Tillvane_se "$work/"
printf 'driverModel=SELLTEXT\noutputFolder=%s\nTVA_GROUPS=A:1|B:2\ntcpPort=%s\n' \
    "$work/receipts" "$port" >"$work/Tillvane_se.ini"
cat >"$work/receipt.lua" <<'LUA'
wrk.method = "POST"
wrk.body = "CMD=BS%7CSI%5EApa%5E2.50%5E2%5EA%7CAP%5E0%5E5.00%7CES"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
LUA
cat >"$work/receipt_with_id.lua" <<'LUA'
-- Every request a new id: "b<thread>-<count>".
local threads = 0
function setup(thread)
    threads = threads + 1
    thread:set("tid", threads)
end
function init(args)
    counter = 0
end
function request()
    counter = counter + 1
    return wrk.format("POST", "/REGCMD",
        {["Content-Type"] = "application/x-www-form-urlencoded"},
        "CMD=BS%7CSI%5EApa%5E2.50%5E2%5EA%7CAP%5E0%5E5.00%7CES&REQUESTID=b" .. tid .. "-" .. counter)
end
LUA

service=
start_service() {
    (cd "$work" && exec ./Tillvane_se >/dev/null) &
    service=$!
    for _ in $(seq 600); do
        curl -s -o /dev/null "http://127.0.0.1:$port/" && return
        sleep 0.05
    done
}
stop_service() {
    kill -TERM "$service" 2>/dev/null
    wait "$service" 2>/dev/null || true
}
trap stop_service EXIT
start_service

echo "== GET / (bare answer)"
wrk -t2 -c16 -d"${seconds}s" "http://127.0.0.1:$port/"
echo "== POST /REGCMD without REQUESTID (one receipt file per request)"
wrk -t2 -c16 -d"${seconds}s" -s "$work/receipt.lua" "http://127.0.0.1:$port/REGCMD"
echo "== POST /REGCMD with a new REQUESTID each"
wrk -t2 -c16 -d"${seconds}s" -s "$work/receipt_with_id.lua" "http://127.0.0.1:$port/REGCMD"
echo "receipt files written: $(find "$work/receipts" -name 'BON_*.txt' | wc -l)"
echo "resident memory (KiB): $(ps -o rss= -p "$service")"
stop_service

# 100,000 ids answered just now, as the journal holds them after a busy week.
ids=100000
now="$(date -u +%Y-%m-%dT%H:%M:%S.000Z)"
awk -v n="$ids" -v now="$now" 'BEGIN {
    text = "BS|SI^Apa^2.50^2^A|AP^0^5.00|ES"
    for (i = 1; i <= n; i++) {
        id = sprintf("till-%02d:2026-12-08:%06d", i % 16, i)
        printf "{\"time\":\"%s\",\"event\":\"start\",\"client\":\"10.0.0.5\",\"id\":\"%s\",\"command\":\"%s\"}\n", now, id, text
        printf "{\"time\":\"%s\",\"event\":\"request\",\"client\":\"10.0.0.5\",\"id\":\"%s\",\"command\":\"%s\",\"status\":200,\"reply\":\"OK|\",\"ms\":4,\"replay\":false,\"ran\":true,\"started\":true}\n", now, id, text
    }
}' >"$work/Tillvane_se.jsonl"
start_service
retry="$(curl -s --data-urlencode 'CMD=BS|SI^Apa^2.50^2^A|AP^0^5.00|ES' \
    --data-urlencode "REQUESTID=till-01:2026-12-08:$(printf %06d $((ids - 15)))" \
    "http://127.0.0.1:$port/REGCMD")"
echo "== $ids ids retained: a retry of one answers \"$retry\"; resident memory (KiB): $(ps -o rss= -p "$service")"
