#!/usr/bin/env bash
# Figures, not a test: what floods leave behind. The text-file driver with apiTokens set takes
# FLOOD_REFUSED (default 100,000) requests without a token, then, without tokens, FLOOD_IDS
# (default 150,000) requests with a new REQUESTID each, twice (an empty command text, so that no
# receipt file is written); the application log, the journal and the resident memory are
# given before and after each flood. Every request is sent (wrk stops each thread at its share).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

source scripts/lib.sh

port="${BENCH_PORT:-18093}"
refused="${FLOOD_REFUSED:-100000}"
ids="${FLOOD_IDS:-150000}"
threads=4
bench_workdir bench-floods

counted_post_script "$work/refused.lua" '"CMD=XR"' $((refused / threads))
counted_post_script "$work/ids.lua" '"CMD=&REQUESTID=f" .. tid .. "-" .. counter' $((ids / threads))
counted_post_script "$work/more_ids.lua" '"CMD=&REQUESTID=g" .. tid .. "-" .. counter' $((ids / threads))

service=
start_service() {
    printf 'driverModel=SELLTEXT\noutputFolder=%s\nTVA_GROUPS=A:1\ntcpPort=%s\n%s\n' \
        "$work/receipts" "$port" "$1" >"$work/Tillvane_se.ini"
    (cd "$work" && exec ./Tillvane_se >/dev/null) &
    service=$!
    wait_http "$port" 30
}
stop_service() {
    kill -TERM "$service" 2>/dev/null || true
    wait "$service" 2>/dev/null || true
}
trap stop_service EXIT

bytes() { cat "$@" 2>/dev/null | wc -c; }
figures() {
    printf '%-28s log %9s B (%s files)  journal %10s B (%s files)  RSS %7s kB\n' "$1" \
        "$(bytes "$work"/Tillvane_se*.log)" "$(ls "$work"/Tillvane_se*.log 2>/dev/null | wc -l)" \
        "$(bytes "$work"/Tillvane_se*.jsonl)" "$(ls "$work"/Tillvane_se*.jsonl | wc -l)" \
        "$(awk '/VmRSS/ { print $2 }' "/proc/$service/status")"
}
token=9c1f0e6d2b7a4c58a3e1
records() {
    curl -s -H "Authorization: Bearer $token" "http://127.0.0.1:$port/metrics" |
        awk '/^tillvane_requests_total/ { n += $2 } END { print n + 0 }'
}
# wrk waits out its duration after every thread stopped: it is ended once the journal stops
# growing, and the requests are counted from the service's metrics.
flood() {
    figures "before $1"
    local start=$SECONDS before last size
    before=$(records)
    wrk -t "$threads" -c 16 -d 900s -s "$2" "http://127.0.0.1:$port/" >/dev/null &
    local client=$!
    last=-1
    while sleep 2; do
        size=$(bytes "$work"/Tillvane_se*.jsonl)
        [ "$size" = "$last" ] && break
        last=$size
    done
    kill "$client" 2>/dev/null || true
    wait "$client" 2>/dev/null || true
    echo "  $(($(records) - before)) requests in about $((SECONDS - start - 2)) s"
    figures "after $1"
}

start_service "apiTokens=front:$token"
# The till's own receipt in the middle of the flood.
(sleep 5 && curl -s -w ' (HTTP %{http_code}, %{time_total} s)\n' \
    -H "Authorization: Bearer $token" \
    --data-urlencode 'CMD=BS|SI^Apa^2.50^2^A|AP^0^5.00|ES' "http://127.0.0.1:$port/REGCMD" |
    sed 's/^/receipt during the flood: /') &
receipt=$!
flood "$refused refusals" "$work/refused.lua"
wait "$receipt"
stop_service
grep -c 'refused' "$work/Tillvane_se.log" | sed 's/^/refusal entries in the log: /'
start_service ''
flood "$ids ids" "$work/ids.lua"
flood "$ids more ids" "$work/more_ids.lua"
grep -c 'Request ids: more than' "$work/Tillvane_se.log" | sed 's/^/ids-forgotten entries: /' || true
