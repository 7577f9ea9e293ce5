#!/usr/bin/env bash
# Figures, not a test: the same receipt through the serial driver with the printer simulator
# on a pseudo-terminal and on TCP, in one run (each receipt is six printer commands, so the
# difference per command is what the network adds), and the time from a network printer
# coming back (switched on, rebooted) to its first printed receipt, without a restart of the
# service. BENCH_RECEIPTS (default 20) receipts per port, BENCH_RETURNS (default 5) returns,
# BENCH_PORT (default 18188 and the next one) for the two services.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

source scripts/lib.sh
cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target Tillvane_se printer_simulator

port="${BENCH_PORT:-18188}"
receipts="${BENCH_RECEIPTS:-20}"
returns="${BENCH_RETURNS:-5}"
simulator=build/default/tools/printer_simulator/printer_simulator
readonly receipt='BS|SI^Apa^2.50^2^A|AP^0^5.00|ES'
readonly commands_per_receipt=6 # 0x63, 0x24, 0x64, 0x6D, 0x67, 0x65
work="$root/build/bench-tcp"
rm -rf "$work" && mkdir -p "$work/pty" "$work/tcp"

pids=()
tcp_simulator=""
cleanup() {
    for pid in "${pids[@]}" $tcp_simulator; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}" $tcp_simulator; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

# start_simulator OUT ARGS...: a simulator whose first line (its Port value) goes to OUT.
start_simulator() {
    local out="$1"
    shift
    "$simulator" "$@" >"$out" &
    last_pid=$!
    wait_for 5 test -s "$out"
}
# start_service FOLDER HTTP-PORT PORT-VALUE
start_service() {
    cp build/default/service/Tillvane_se "$1/"
    printf 'driverModel=SERIALUFP\nPort=%s\nTVA_GROUPS=A:1\ntcpPort=%s\n' "$3" "$2" \
        >"$1/Tillvane_se.ini"
    (cd "$1" && exec ./Tillvane_se >/dev/null) &
    pids+=($!)
    wait_http "$2"
}
# send HTTP-PORT: prints "reply seconds".
send() {
    curl -s -w ' %{time_total}' --data-urlencode "CMD=$receipt" "http://127.0.0.1:$1/REGCMD"
}
ms() { awk -v s="$1" 'BEGIN { printf "%.1f", s * 1000 }'; }

start_simulator "$work/pty/simulator.out"
pids+=("$last_pid")
start_simulator "$work/tcp/simulator.out" --tcp 127.0.0.1:0
tcp_simulator=$last_pid
tcp_name=$(head -n1 "$work/tcp/simulator.out")
start_service "$work/pty" "$port" "$(head -n1 "$work/pty/simulator.out")"
start_service "$work/tcp" "$((port + 1))" "$tcp_name"

# The first receipt of each carries the handshake: not counted.
send "$port" >/dev/null
send "$((port + 1))" >/dev/null
pty_times=()
tcp_times=()
for _ in $(seq "$receipts"); do # interleaved, so that both see the same machine
    read -r reply seconds <<<"$(send "$port")"
    [ "$reply" == "OK|" ] || { echo "pty receipt: $reply" >&2; exit 1; }
    pty_times+=("$seconds")
    read -r reply seconds <<<"$(send "$((port + 1))")"
    [ "$reply" == "OK|" ] || { echo "tcp receipt: $reply" >&2; exit 1; }
    tcp_times+=("$seconds")
done
pty_median=$(median "${pty_times[@]}")
tcp_median=$(median "${tcp_times[@]}")
echo "== One receipt ($commands_per_receipt printer commands), median of $receipts"
echo "pseudo-terminal   $(ms "$pty_median") ms"
echo "TCP (loopback)    $(ms "$tcp_median") ms"
echo "TCP adds          $(awk -v t="$tcp_median" -v p="$pty_median" -v n="$commands_per_receipt" \
    'BEGIN { printf "%.2f", (t - p) * 1000 / n }') ms per command"

# The printer goes (its connection closes), the till's receipt fails, the printer comes back
# on the same port: the time from its port answering to the receipt printed.
echo "== Network printer back: from listening again to the first printed receipt"
return_times=()
for i in $(seq "$returns"); do
    kill -TERM "$tcp_simulator" && wait "$tcp_simulator" 2>/dev/null || true
    tcp_simulator=""
    read -r reply _ <<<"$(send "$((port + 1))")"
    [[ "$reply" == ERR\|* ]] || { echo "printer away, yet: $reply" >&2; exit 1; }
    start_simulator "$work/tcp/back$i.out" --tcp "${tcp_name#tcp://}"
    tcp_simulator=$last_pid
    back=$(date +%s%N)
    read -r reply _ <<<"$(send "$((port + 1))")"
    printed=$(date +%s%N)
    [ "$reply" == "OK|" ] || { echo "printer back, yet: $reply" >&2; exit 1; }
    return_times+=("$(((printed - back) / 1000000))")
done
echo "back to printed   $(median "${return_times[@]}") ms (median of $returns; the receipt" \
    "itself with the handshake is most of it)"
