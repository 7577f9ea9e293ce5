#!/usr/bin/env bash
# Builds the service and runs it in the foreground, the way systemd would run it: on a fresh
# Debian 12 machine this is all it takes. Ctrl-C (or SIGTERM) stops it in order.
#
# The first run writes a default configuration beside the program (the text-file driver,
# receipts into receipts/ at the repository root, port 8088); edit it to change anything.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target Tillvane_se -j "$(nproc)"

program="$root/build/default/service/Tillvane_se"
config="$(dirname "$program")/Tillvane_se.ini"
receipts="$root/receipts"

if [ ! -f "$config" ]; then
    mkdir -p "$receipts"
    # Receipts are the printer's business, not the repository's.
    [ -f "$receipts/.gitignore" ] || echo '*' >"$receipts/.gitignore"
    cat >"$config" <<CONFIG
driverModel=SELLTEXT
outputFolder=$receipts
TVA_GROUPS=A:1|B:2|C:3|D:4
tcpPort=8088
listenAddress=127.0.0.1
DebugMode=0
CONFIG
    echo "Wrote a default configuration: $config"
fi

# The value of a key as the service reads it: first occurrence, key in any letter case,
# blanks before the key and the value dropped, a CR line end tolerated.
setting() {
    awk -F= -v key="$1" '
        { sub(/\r$/, ""); k = $1; sub(/^ +/, "", k) }
        toupper(k) == toupper(key) { v = $2; sub(/^ +/, "", v); print v; exit }
    ' "$config"
}
port="$(setting tcpPort)"
folder="$(setting outputFolder)"
# The driver writes into the folder but does not make it.
[ -z "$folder" ] || mkdir -p "$folder"
echo "Configuration: $config"
echo "Listening on:  http://127.0.0.1:${port:-0}/REGCMD"
echo "Status:        http://127.0.0.1:${port:-0}/status.html"
echo "Receipts go to: ${folder:-$(dirname "$program")}"
echo "Logs:          $(dirname "$program")/{_Tillvane_se.log,Tillvane_se.log,Tillvane_se.html}"
echo "Stop with Ctrl-C."
cd "$(dirname "$program")"
exec "$program"
