#!/usr/bin/env bash
# Figures, not a test: the HTTP front end under wrk on loopback beside a bare Beast server
# (plain, and publishing one flushed file per request as the text driver does), the service's
# root path, a no-op command (RO) and whole receipts with their ratios, receipt latency at 32
# connections, resident memory, and receipts of 1, 10 and 100 items against the printer
# simulator beside the serial protocol's own floor. Runs everything in build/bench and stops
# it again. BENCH_SECONDS (default 5) per HTTP case, BENCH_ROUNDS (default 3) rounds of them,
# BENCH_PORT (default 18088 and the next three).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

source scripts/lib.sh
scripts/setup.sh wrk socat
cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target Tillvane_se bare_beast_server printer_simulator

port="${BENCH_PORT:-18088}"
bare_port=$((port + 1))
serial_port=$((port + 2))
bare_file_port=$((port + 3))
seconds="${BENCH_SECONDS:-5}"
rounds="${BENCH_ROUNDS:-3}"
baud=9600
work="$root/build/bench"
rm -rf "$work" && mkdir -p "$work/receipts" "$work/bare-files" "$work/serial"

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

rss_kib() { ps -o rss= -p "$1" | tr -d ' '; }

post_script "$work/receipt.lua" 'CMD=BS%7CSI%5EApa%5E2.50%5E2%5EA%7CAP%5E0%5E5.00%7CES'
post_script "$work/noop.lua" 'CMD=RO'

# wrk CONNECTIONS URL [SCRIPT]: prints "requests/s p50 p99 non-2xx socket-errors requests"
# (latencies in ms).
measure() {
    local connections=$1 url=$2 script=${3:-}
    local args=(-t2 "-c$connections" "-d${seconds}s" --latency)
    [ -n "$script" ] && args+=(-s "$work/$script.lua")
    wrk "${args[@]}" "$url" | awk '
        function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0;
                         if (v ~ /s$/) return v * 1000; return v }
        /Requests\/sec:/ { rps = $2 }
        $1 == "50%" { p50 = ms($2) }
        $1 == "99%" { p99 = ms($2) }
        /Non-2xx/ { bad = $NF }
        /Socket errors/ { gsub(/,/, ""); errors = $4 + $6 + $8 + $10 }
        / requests in / { total = $1 }
        END { printf "%.0f %.2f %.2f %d %d %d\n", rps, p50, p99, bad, errors, total }'
}

# --- HTTP -------------------------------------------------------------------------------
cp build/default/service/Tillvane_se "$work/"
printf 'driverModel=SELLTEXT\noutputFolder=%s\nTVA_GROUPS=A:1|B:2\ntcpPort=%s\n' \
    "$work/receipts" "$port" >"$work/Tillvane_se.ini"
(cd "$work" && exec ./Tillvane_se >/dev/null) &
service=$!
pids+=("$service")
wait_http "$port"
rss_before=$(rss_kib "$service")

build/default/bench/bare_beast_server "$bare_port" plain &
pids+=($!)
build/default/bench/bare_beast_server "$bare_file_port" file "$work/bare-files" &
pids+=($!)
wait_http "$bare_port"
wait_http "$bare_file_port"

# The cost of an fsync on a shared disk swings with what else runs, so each service case is
# measured right after its baseline, in several rounds, and the medians are compared.
bare_plain_all=() bare_file_all=() root_all=() noop_all=() receipt_all=()
noop_bad=0 receipt_bad=0 noop_errors=0 receipt_errors=0
for ((round = 0; round < rounds; round++)); do
    read -r rps _ <<<"$(measure 16 "http://127.0.0.1:$bare_port/")"
    bare_plain_all+=("$rps")
    read -r rps _ <<<"$(measure 16 "http://127.0.0.1:$port/")"
    root_all+=("$rps")
    read -r rps _ _ bad errors _ <<<"$(measure 16 "http://127.0.0.1:$port/REGCMD" noop)"
    noop_all+=("$rps") noop_bad=$((noop_bad + bad)) noop_errors=$((noop_errors + errors))
    read -r rps _ <<<"$(measure 16 "http://127.0.0.1:$bare_file_port/")"
    bare_file_all+=("$rps")
    read -r rps _ _ bad errors _ <<<"$(measure 16 "http://127.0.0.1:$port/REGCMD" receipt)"
    receipt_all+=("$rps") receipt_bad=$((receipt_bad + bad)) receipt_errors=$((receipt_errors + errors))
done
bare_plain=$(median "${bare_plain_all[@]}")
bare_file=$(median "${bare_file_all[@]}")
root_rps=$(median "${root_all[@]}")
noop_rps=$(median "${noop_all[@]}")
receipt_rps=$(median "${receipt_all[@]}")
read -r receipt32_all p50 p99 receipt32_bad receipt32_errors receipt32_total \
    <<<"$(measure 32 "http://127.0.0.1:$port/REGCMD" receipt)"
# Past the driver queue's bound the surplus requests are refused at once ("printer busy"):
# only the answers that printed count as receipts.
receipt32_rps=$(awk -v r="$receipt32_all" -v b="$receipt32_bad" -v t="$receipt32_total" \
    'BEGIN { printf "%.0f", (t > 0 ? r * (t - b) / t : 0) }')
rss_after=$(rss_kib "$service")
files=$(find "$work/receipts" -name 'BON_*.txt' | wc -l)
leftovers=$(find "$work/receipts" -name '.tillvane-*' | wc -l)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.0f%%", (b > 0 ? 100 * a / b : 0) }'; }
echo
echo "== HTTP on loopback, wrk -t2, ${seconds} s per case, 16 connections unless said;"
echo "   medians of ${rounds} rounds (all: bare plain ${bare_plain_all[*]}; root ${root_all[*]};"
echo "   RO ${noop_all[*]}; bare file ${bare_file_all[*]}; receipts ${receipt_all[*]})"
printf '%-50s %10s  %s\n' "case" "req/s" "ratio"
printf '%-50s %10s\n' "bare Beast server, plain answer" "$bare_plain"
printf '%-50s %10s\n' "bare Beast server, one file published per request" "$bare_file"
printf '%-50s %10s  %s of bare plain\n' "service GET /" "$root_rps" "$(ratio "$root_rps" "$bare_plain")"
printf '%-50s %10s  %s of bare plain\n' "service POST /REGCMD CMD=RO (no-op)" "$noop_rps" \
    "$(ratio "$noop_rps" "$bare_plain")"
printf '%-50s %10s  %s of bare file\n' "service whole receipts (one file each)" "$receipt_rps" \
    "$(ratio "$receipt_rps" "$bare_file")"
printf '%-50s %10s  %s of bare file\n' "service whole receipts, 32 connections (200 only)" \
    "$receipt32_rps" "$(ratio "$receipt32_rps" "$bare_file")"
echo "receipt latency at 32 connections: p50 ${p50} ms, p99 ${p99} ms"
echo "answers other than 200: RO ${noop_bad}, receipts ${receipt_bad}, receipts/32 ${receipt32_bad}"
echo "   (at 32 connections more receipts wait than the driver queue holds: the surplus is"
echo "   answered 503 \"printer busy\" at once, ${receipt32_all} answers/s in all)"
# One address may hold 16 connections: at 32, wrk's surplus connections are closed to admit
# the others and count as socket errors.
echo "socket errors: RO ${noop_errors}, receipts ${receipt_errors}, receipts/32 ${receipt32_errors}"
echo "receipt files written: $files; temporary files left: $leftovers"
echo "resident memory of the service: ${rss_before} KiB at start, ${rss_after} KiB after the load"

# --- Serial printer simulator -----------------------------------------------------------
# The simulator sits behind socat, which relays the bytes and reports each transfer's length,
# so the bytes on the wire are counted, not estimated. A pseudo-terminal moves them without
# the line's delay: the wire time below is what a real line at baudRate would add.
build/default/tools/printer_simulator/printer_simulator --journal "$work/serial/journal.txt" \
    >"$work/serial/simulator.out" &
pids+=($!)
wait_for 5 test -s "$work/serial/simulator.out"
simulator_tty=$(head -n1 "$work/serial/simulator.out")
socat -v "PTY,link=$work/serial/ttyS,rawer" "OPEN:$simulator_tty,rawer" 2>"$work/serial/wire.log" &
pids+=($!)
wait_for 5 test -e "$work/serial/ttyS"
mkdir -p "$work/serial/svc"
cp build/default/service/Tillvane_se "$work/serial/svc/"
printf 'driverModel=SERIALUFP\nPort=%s\nbaudRate=%s\nTVA_GROUPS=A:1|B:2\ntcpPort=%s\n' \
    "$work/serial/ttyS" "$baud" "$serial_port" >"$work/serial/svc/Tillvane_se.ini"
(cd "$work/serial/svc" && exec ./Tillvane_se >/dev/null) &
pids+=($!)
wait_http "$serial_port"

wire_bytes() { grep -o 'length=[0-9]*' "$work/serial/wire.log" | awk -F= '{ s += $2 } END { print s + 0 }'; }
commands() { wc -l <"$work/serial/journal.txt"; }
receipt_text() {
    local text="BS"
    for ((i = 0; i < $1; i++)); do text+="|SI^Apa^1.00^1^A"; done
    echo "$text|AP^0^$1|ES"
}
send_serial() {
    curl -s -o "$work/serial/answer" -w '%{time_total}' --max-time 600 \
        --data-urlencode "CMD=$(receipt_text "$1")" "http://127.0.0.1:$serial_port/REGCMD"
}
send_serial 1 >/dev/null # the first receipt also runs the printer hand-shake
pause_ms=100
echo
echo "== Receipts through the serial driver, printer simulator on a pseudo-terminal"
echo "   floor = ${pause_ms} ms pause per command + bytes on the wire at ${baud} baud (10 bits a byte)"
printf '%6s %9s %7s %11s %9s %10s %10s %18s %18s\n' items commands bytes "measured ms" "pauses ms" \
    "wire ms" "floor ms" "over pauses/cmd ms" "over floor/cmd ms"
for items in 1 10 100; do
    bytes_before=$(wire_bytes)
    commands_before=$(commands)
    seconds_taken=$(send_serial "$items")
    grep -q '^OK|' "$work/serial/answer" || echo "   answer: $(cat "$work/serial/answer")"
    sleep 0.2 # socat writes its last record after the answer
    n=$(($(commands) - commands_before))
    b=$(($(wire_bytes) - bytes_before))
    awk -v items="$items" -v n="$n" -v b="$b" -v t="$seconds_taken" -v pause="$pause_ms" -v baud="$baud" '
        BEGIN { measured = t * 1000; pauses = n * pause; wire = b * 10 * 1000 / baud;
                floor = pauses + wire;
                printf "%6d %9d %7d %11.0f %9.0f %10.0f %10.0f %18.2f %18.2f\n", items, n, b,
                       measured, pauses, wire, floor, (measured - pauses) / n, (measured - floor) / n }'
done
echo
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
