#!/usr/bin/env bash
# Figures, not a test: what the request journal and request ids cost. Whole receipts through
# the text-file driver under wrk, from one till (1 connection) and from 16, in three cases:
# the journal unavailable (its file name held by a folder, so that requests without an id run
# unrecorded, as they do when the journal cannot be written), the journal as it always runs
# (every request recorded and flushed to disk before its answer), and a new REQUESTID each (a
# flushed start record before the receipt runs as well). The cases run in interleaved rounds
# and the medians are compared. Then the service is started on a journal of 100,000 ids, with
# its resident memory.
# BENCH_SECONDS (default 5) per case, BENCH_ROUNDS (default 3), BENCH_PORT (default 18092).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

source scripts/lib.sh

port="${BENCH_PORT:-18092}"
seconds="${BENCH_SECONDS:-5}"
rounds="${BENCH_ROUNDS:-3}"
bench_workdir bench-request-ids
printf 'driverModel=SELLTEXT\noutputFolder=%s\nTVA_GROUPS=A:1|B:2\ntcpPort=%s\n' \
    "$work/receipts" "$port" >"$work/Tillvane_se.ini"
post_script "$work/receipt.lua" 'CMD=BS%7CSI%5EApa%5E2.50%5E2%5EA%7CAP%5E0%5E5.00%7CES'
# Every request a new id: "b<thread>-<count>".
counted_post_script "$work/receipt_with_id.lua" \
    '"CMD=BS%7CSI%5EApa%5E2.50%5E2%5EA%7CAP%5E0%5E5.00%7CES&REQUESTID=b" .. tid .. "-" .. counter'

service=
start_service() {
    (cd "$work" && exec ./Tillvane_se >/dev/null) &
    service=$!
    wait_http "$port" 30
}
stop_service() {
    kill -TERM "$service" 2>/dev/null
    wait "$service" 2>/dev/null || true
}
trap stop_service EXIT

# Requests per second of `wrk` with $1 connections and the script $2; only 200 answers count.
measure() {
    local threads=2
    [ "$1" -gt 1 ] || threads=1
    wrk -t"$threads" -c"$1" -d"${seconds}s" -s "$work/$2.lua" "http://127.0.0.1:$port/REGCMD" |
        awk '/Non-2xx/ { bad = $NF } /Requests\/sec:/ { rps = $2 }
             END { if (bad > 0) print "bad " bad; else printf "%.0f\n", rps }'
}

declare -A figures
for round in $(seq "$rounds"); do
    # The journal's file name taken by a folder: the journal cannot open.
    rm -f "$work/Tillvane_se.jsonl" && mkdir "$work/Tillvane_se.jsonl"
    start_service
    for connections in 1 16; do
        figures[off-$connections]+=" $(measure "$connections" receipt)"
    done
    stop_service
    rmdir "$work/Tillvane_se.jsonl"
    start_service
    for connections in 1 16; do
        figures[on-$connections]+=" $(measure "$connections" receipt)"
        figures[id-$connections]+=" $(measure "$connections" receipt_with_id)"
    done
    echo "round $round of $rounds: journal off, on, with ids (1 and 16 connections):" \
        "${figures[off-1]##* } ${figures[on-1]##* } ${figures[id-1]##* }" \
        "${figures[off-16]##* } ${figures[on-16]##* } ${figures[id-16]##* }"
    [ "$round" -eq "$rounds" ] || stop_service
done
echo "receipt files written: $(find "$work/receipts" -name 'BON_*.txt' | wc -l)"
echo "resident memory (KiB): $(ps -o rss= -p "$service")"
stop_service

echo "== receipts per second, median of $rounds rounds of ${seconds}s"
printf '%-40s %12s %12s\n' case "1 till" "16 tills"
for case in off on id; do
    # shellcheck disable=SC2086
    one=$(median ${figures[$case-1]}) sixteen=$(median ${figures[$case-16]})
    off_one=$(median ${figures[off-1]}) off_sixteen=$(median ${figures[off-16]})
    label="journal unavailable (no record)"
    [ "$case" = on ] && label="journal (every request recorded)"
    [ "$case" = id ] && label="journal, a new REQUESTID each"
    printf '%-40s %12s %12s   %s\n' "$label" "$one" "$sixteen" \
        "$(awk -v a="$one" -v b="$off_one" -v c="$sixteen" -v d="$off_sixteen" \
            'BEGIN { printf "%.0f%% and %.0f%% of the receipts without a journal", 100 * a / b, 100 * c / d }')"
done

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
