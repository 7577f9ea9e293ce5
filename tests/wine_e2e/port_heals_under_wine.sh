#!/usr/bin/env bash
# The Windows program under Wine's service manager with COM1 on the printer simulator's
# pseudo-terminal: the simulator stops (the adapter is unplugged), a new one starts and COM1
# is pointed at it (plugged back), and the next receipt prints without a restart. Then the same
# printer on the network (Port=tcp://…, Winsock): it reboots between two receipts and the
# second prints over a new connection.
#
# Usage: port_heals_under_wine.sh <Tillvane_se.exe> <printer_simulator> <scratch folder>
set -uo pipefail

exe="$(realpath "$1")"
simulator="$(realpath "$2")"
scratch="$(realpath -m "$3")"
# wine, wineserver, the Wine session and the result table's rows: check, same, holds.
source "$(dirname "$0")/wine_lib.sh"
readonly service=Tillvane_SE
readonly program='C:\Port Svc\Tillvane_se.exe'
readonly receipt='BS|SI^Apa^2.50^2^A|AP^0^5.00|ES'

# wait_for <seconds> <command...>
source "$(dirname "$0")/../../scripts/lib.sh"

for tool in "$exe" "$simulator" "$wine" curl; do
    command -v "$tool" >/dev/null || { echo "missing: $tool"; exit 1; }
done

rm -rf "$scratch"
mkdir -p "$scratch"
simulator_pid=""
cleanup() {
    [ -z "$simulator_pid" ] || kill "$simulator_pid" 2>/dev/null
    "$wine" "$program" -remove >/dev/null 2>&1
    end_wine_session
}
trap cleanup EXIT
new_wine_session "$scratch"

folder="$WINEPREFIX/drive_c/Port Svc"
mkdir -p "$folder"
cp "$exe" "$folder/Tillvane_se.exe"
port=$(free_port)
printf 'tcpPort=%s\r\nTVA_GROUPS=A:1|B:2\r\ndriverModel=SERIALUFP\r\nPort=COM1\r\n' "$port" \
    >"$folder/Tillvane_se.ini"
answers() { curl -s -m 2 "http://127.0.0.1:$port/" >/dev/null; }
send() { curl -s -m 30 --data-urlencode "CMD=$1" "http://127.0.0.1:$port/REGCMD"; }
status() { curl -s -m 5 "http://127.0.0.1:$port/status"; }

# plug <n>: a new simulator with journal n, COM1 pointed at its pseudo-terminal.
plug() {
    "$simulator" --journal "$scratch/journal$1.txt" >"$scratch/simulator$1.out" 2>&1 &
    simulator_pid=$!
    wait_for 10 test -s "$scratch/simulator$1.out"
    local pty
    pty=$(head -n 1 "$scratch/simulator$1.out")
    "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$pty" /f >/dev/null 2>&1
    ln -sfn "$pty" "$WINEPREFIX/dosdevices/com1"
}
unplug() {  # the simulator ends, and with the adapter its COM port goes
    kill "$simulator_pid"
    wait "$simulator_pid" 2>/dev/null
    simulator_pid=""
    rm -f "$WINEPREFIX/dosdevices/com1"
}

plug 1
"$wine" "$program" /INSTALL >/dev/null 2>&1
"$wine" net start "$service" >/dev/null 2>&1
check "the service answers" wait_for 30 answers
check "a receipt prints" same "$(send "$receipt")" "OK|"

unplug
check "unplugged: the next receipt fails" holds "$(send "$receipt")" "^ERR|"
check "unplugged: the status says closed" holds "$(status)" '"portOpen":false,"portLostAt":"2'
check "unplugged: the loss is counted" \
    holds "$(curl -s "http://127.0.0.1:$port/metrics")" "tillvane_port_losses_total 1"
check "unplugged: the register log says lost" \
    holds "$(cat "$folder/_Tillvane_se.log")" "Port COM1 lost: "

plug 2
plugged_in=$(date +%s%N)
reply=$(send "$receipt")
printed=$(date +%s%N)
check "plugged back: the next receipt prints" same "$reply" "OK|"
echo "plug-in to printed receipt under Wine: $(((printed - plugged_in) / 1000000)) ms"
check "plugged back: with a fresh handshake" \
    same "$(head -n 4 "$scratch/journal2.txt" | tr '\n' '|')" \
    "SETUP 20;0;|READ PARAMETERS|SOFTWARE VERSION|OPEN RECEIPT|"
check "plugged back: the status says open" holds "$(status)" \
    '"portInUse":"COM1","portOpen":true,"portLostAt":null'

# network <n>: a new simulator with journal n listening on the printer's TCP port.
network() {
    "$simulator" --tcp "127.0.0.1:$printer_port" --journal "$scratch/journal$1.txt" \
        >"$scratch/simulator$1.out" 2>&1 &
    simulator_pid=$!
    wait_for 10 test -s "$scratch/simulator$1.out"
}
unplug
printer_port=$(free_port)
"$wine" net stop "$service" >/dev/null 2>&1
sed -i "s|^Port=.*|Port=tcp://127.0.0.1:$printer_port\r|" "$folder/Tillvane_se.ini"
network 3
"$wine" net start "$service" >/dev/null 2>&1
check "network: the service answers" wait_for 30 answers
check "network: a receipt prints over TCP" same "$(send "$receipt")" "OK|"
kill "$simulator_pid"
wait "$simulator_pid" 2>/dev/null
network 4
check "network: after a reboot the next receipt prints" same "$(send "$receipt")" "OK|"
check "network: with a fresh handshake" \
    same "$(head -n 4 "$scratch/journal4.txt" | tr '\n' '|')" \
    "SETUP 20;0;|READ PARAMETERS|SOFTWARE VERSION|OPEN RECEIPT|"
check "network: the register log says lost" \
    holds "$(cat "$folder/_Tillvane_se.log")" "Port tcp://127.0.0.1:$printer_port lost: "

finish
