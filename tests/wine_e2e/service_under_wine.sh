#!/usr/bin/env bash
# The Windows program as a shop installs it, under Wine's service manager: installed from a
# folder whose name holds a blank, started with "net start", a receipt over HTTP from Linux
# with the text-file driver, then one through COM1 to the printer simulator on a
# pseudo-terminal, and removal while it runs. Also what -install registers, Notepad's encodings
# of the configuration, a start that cannot listen and -install auto.
#
# Usage: service_under_wine.sh <Tillvane_se.exe> <printer_simulator> <scratch folder>
set -uo pipefail

exe="$(realpath "$1")"
simulator="$(realpath "$2")"
scratch="$(realpath -m "$3")"
# wine, wineserver and the result table's rows: check, same, holds.
source "$(dirname "$0")/wine_lib.sh"
readonly service=Tillvane_SE
readonly service_key='HKLM\System\CurrentControlSet\Services\Tillvane_SE'
readonly source_key='HKLM\System\CurrentControlSet\Services\EventLog\Application\Tillvane_SE'
readonly program='C:\Pos Svc\Tillvane_se.exe'
readonly receipt='BS|SI^Apa^2.50^2^A|AP^0^5.00|ES'

# Console output of the program without Wine's CR LF line ends.
run() { "$wine" "$program" "$@" 2>/dev/null | tr -d '\r'; }

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
    end_wine_session
}
trap cleanup EXIT
new_wine_session "$scratch"

folder="$WINEPREFIX/drive_c/Pos Svc"
mkdir -p "$folder/receipts"
cp "$exe" "$folder/Tillvane_se.exe"
port=$(free_port)
configure() {  # configure <driver lines>: the configuration the service reads at start
    printf 'tcpPort=%s\r\nDebugMode=1\r\nTVA_GROUPS=A:1|B:2\r\n%s' "$port" "$1" >"$folder/Tillvane_se.ini"
}
answers() { curl -s -m 2 "http://127.0.0.1:$port/" >/dev/null; }
send() { curl -s -m 30 --data-urlencode "CMD=$1" "http://127.0.0.1:$port/REGCMD"; }
send_with_id() {
    curl -s -m 30 --data-urlencode "CMD=$1" --data-urlencode "REQUESTID=$2" \
        "http://127.0.0.1:$port/REGCMD"
}
state() { "$wine" sc query "$service" 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $3}'; }
stopped() { [ "$(state)" == 1 ]; }

help=$'Parameters:\n -install  to install the service.\n -remove   to remove the service.'
help+=$'\n -instance <name> -install [auto]  to install another printer\'s service, Tillvane_SE_<name>.'
help+=$'\n -instance <name> -remove          to remove it.'
help+=$'\n -instance <name>                  to run it (files: Tillvane_se_<name>.ini, .log, ...).'
check "from a console: the help text, then the dispatcher's refusal" \
    same "$(run)" "$help"$'\nService failed to run w/err 0x00000427'
check "--install does nothing" same "$(run --install)" ""
check "--install installs nothing" bash -c "! '$wine' reg query '$service_key' >/dev/null 2>&1"
# Wine takes the failure actions but refuses their flag for a failed exit (error 87).
readonly wine_flag_warning='Warning: Restarting after a failed start failed w/err 0x00000057 (Invalid parameter): only a crash restarts the service'
check "/INSTALL installs" same "$(run /INSTALL)" "$wine_flag_warning"$'\nTillvane_SE is installed.'
check "a second -install is refused" same "$(run -install)" "CreateService failed w/err 0x00000431"
check "a refused -install exits non-zero" bash -c "! '$wine' '$program' -install >/dev/null 2>&1"
registry=$("$wine" reg query "$service_key" 2>/dev/null | tr -d '\r')
check "registered path is quoted" holds "$registry" 'ImagePath    REG_SZ    "C:\\Pos Svc\\Tillvane_se.exe"'
check "started on demand" holds "$registry" "Start    REG_DWORD    0x3"
check "own process" holds "$registry" "Type    REG_DWORD    0x10"
check "under the LocalService account" holds "$registry" 'ObjectName    REG_SZ    NT AUTHORITY\\LocalService'
check "with its description" holds "$registry" "Description    REG_SZ    Puts the fiscal receipt printer"
# Wine accepts the failure actions but stores none (reading them back fails with error 124):
# the installer's table of calls shows them instead.
events=$("$wine" reg query "$source_key" 2>/dev/null | tr -d '\r')
check "event source: the program holds its texts" \
    holds "$events" 'EventMessageFile    REG_EXPAND_SZ    C:\\Pos Svc\\Tillvane_se.exe'
check "event source: error, warning, information" holds "$events" "TypesSupported    REG_DWORD    0x7"

# The text-file driver.
configure $'driverModel=SELLTEXT\r\noutputFolder=C:\\Pos Svc\\receipts\r\n'
"$wine" net start "$service" >/dev/null 2>&1
check "net start: the service answers" wait_for 30 answers
check "running" same "$(state)" 4
check "a receipt over HTTP is answered OK|" same "$(send "$receipt")" "OK|"
receipt_files=("$folder"/receipts/BON_*.txt)
check "one receipt file" same "${#receipt_files[@]}" 1
check "the receipt file holds exactly the sale" same "$(od -An -c "${receipt_files[0]}" | tr -s ' ')" \
    "$(printf 'S,1,______,_,__;Apa;2.50;2.000;1;1;1;0;0;\nT,1,______,_,__;0;5.00;;;;\n' | od -An -c | tr -s ' ')"
check "a receipt with a REQUESTID is answered OK|" same "$(send_with_id "$receipt" wine-1)" "OK|"
check "its retry is answered from the journal" same "$(send_with_id "$receipt" wine-1)" "OK|"
receipt_files=("$folder"/receipts/BON_*.txt)
check "and prints nothing more" same "${#receipt_files[@]}" 2
check "the journal records the replay" \
    holds "$(cat "$folder/TILLVANE_SE.JSONL")" '"id":"wine-1".*"replay":true'
check "application log: upper-cased name, CR LF entries" \
    holds "$(od -An -c "$folder/TILLVANE_SE.LOG" | tr -s ' ')" '\\r \\n 2'
check "application log names its configuration" \
    holds "$(cat "$folder/TILLVANE_SE.LOG")" 'Init from \[C:\\POS SVC\\TILLVANE_SE.INI\]'
check "request log starts with the byte-order mark" \
    same "$(head -c 3 "$folder/TILLVANE_SE.HTML" | od -An -tx1 | tr -d ' ')" "efbbbf"
check "request log holds the command text" holds "$(cat "$folder/TILLVANE_SE.HTML")" "$receipt"
check "register log beside the program, CR LF entries" \
    holds "$(od -An -c "$folder/_Tillvane_se.log" | tr -s ' ')" '\\r \\n 2'
check "register log names the driver" holds "$(cat "$folder/_Tillvane_se.log")" "SellText model initiated"
"$wine" net stop "$service" >/dev/null 2>&1
check "net stop stops it" wait_for 30 stopped

# The same configuration as Notepad saves it in its other encodings: the same receipt.
rm -f "$folder"/receipts/BON_*.txt
plain=$(cat "$folder/Tillvane_se.ini")
for encoding in UTF-8 UTF-16LE UTF-16BE; do
    case $encoding in
        UTF-8) { printf '\xef\xbb\xbf'; printf '%s' "$plain"; } >"$folder/Tillvane_se.ini" ;;
        UTF-16LE) { printf '\xff\xfe'; printf '%s' "$plain" | iconv -f UTF-8 -t UTF-16LE; } >"$folder/Tillvane_se.ini" ;;
        UTF-16BE) { printf '\xfe\xff'; printf '%s' "$plain" | iconv -f UTF-8 -t UTF-16BE; } >"$folder/Tillvane_se.ini" ;;
    esac
    "$wine" net start "$service" >/dev/null 2>&1
    check "$encoding with its byte-order mark: the service answers" wait_for 30 answers
    check "$encoding: a receipt is answered OK|" same "$(send "$receipt")" "OK|"
    receipt_files=("$folder"/receipts/BON_*.txt)
    check "$encoding: the same receipt file" same "$(od -An -c "${receipt_files[0]}" | tr -s ' ')" \
        "$(printf 'S,1,______,_,__;Apa;2.50;2.000;1;1;1;0;0;\nT,1,______,_,__;0;5.00;;;;\n' | od -An -c | tr -s ' ')"
    rm -f "$folder"/receipts/BON_*.txt
    "$wine" net stop "$service" >/dev/null 2>&1
    wait_for 30 stopped
done
printf '%s' "$plain" >"$folder/Tillvane_se.ini"

# A port in use: the start fails and the service manager shows why (Wine's net start reports
# success whatever happens next, so sc query tells).
# (SO_REUSEADDR: the service's last connections may linger in TIME_WAIT on that port.)
python3 -c 'import socket, sys
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("0.0.0.0", int(sys.argv[1]))); s.listen(); print("ready", flush=True)
sys.stdin.read()' "$port" <"$scratch/keep-session" >"$scratch/blocker.out" 2>&1 &
blocker_pid=$!
check "port in use: another program listens there" \
    wait_for 10 grep -q ready "$scratch/blocker.out"
"$wine" net start "$service" >/dev/null 2>&1
check "port in use: the service stops" wait_for 30 stopped
query=$("$wine" sc query "$service" 2>/dev/null | tr -d '\r')
check "port in use: a service-specific exit code" holds "$query" "WIN32_EXIT_CODE *: *1066"
check "port in use: its code is 4" holds "$query" "SERVICE_EXIT_CODE *: *4 "
check "port in use: the log says so in words" \
    holds "$(cat "$folder/TILLVANE_SE.LOG")" "portul $port: address already in use"
kill "$blocker_pid" 2>/dev/null
wait "$blocker_pid" 2>/dev/null

# The serial driver: COM1 is the simulator's pseudo-terminal.
journal="$scratch/journal.txt"
"$simulator" --journal "$journal" >"$scratch/simulator.out" 2>&1 &
simulator_pid=$!
wait_for 10 test -s "$scratch/simulator.out"
pty=$(head -n 1 "$scratch/simulator.out")
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$pty" /f >/dev/null 2>&1
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com1"
configure $'driverModel=SERIALUFP\r\nPort=COM1\r\n'
"$wine" net start "$service" >/dev/null 2>&1
check "serial: the service answers" wait_for 30 answers
check "serial: a receipt is answered OK|" same "$(send "$receipt")" "OK|"
check "serial: the printer printed the sale" holds "$(cat "$journal")" "SALE .* Apa 2.000 x 2.50"
check "serial: after a restart a retry is answered from the journal" \
    same "$(send_with_id "$receipt" wine-1)" "OK|"
check "serial: and the printer sold once" same "$(grep -c "SALE" "$journal")" 1
check "serial: and closed the receipt" holds "$(cat "$journal")" "CLOSE RECEIPT TOTAL 5.00 PAID 5.00"

# A second printer: the instance "front", a service of its own beside the running default one.
readonly front_key='HKLM\System\CurrentControlSet\Services\Tillvane_SE_front'
front_port=$(free_port)
mkdir -p "$folder/front"
printf 'tcpPort=%s\r\nTVA_GROUPS=A:1\r\ndriverModel=SELLTEXT\r\noutputFolder=C:\\Pos Svc\\front\r\n' \
    "$front_port" >"$folder/Tillvane_se_front.ini"
front() { curl -s -m 30 "$@" "http://127.0.0.1:$front_port/${path:-}"; }
front_answers() { front >/dev/null; }
check "front: -instance front -install" \
    same "$(run -instance front -install)" "$wine_flag_warning"$'\nTillvane_SE_front is installed.'
check "front: a second -install is refused" \
    same "$(run -instance front -install)" "CreateService failed w/err 0x00000431"
check "front: its program is told which instance it is" \
    holds "$("$wine" reg query "$front_key" 2>/dev/null | tr -d '\r')" \
    'ImagePath    REG_SZ    "C:\\Pos Svc\\Tillvane_se.exe" -instance front'
"$wine" net start Tillvane_SE_front >/dev/null 2>&1
check "front: net start, it answers" wait_for 30 front_answers
check "front: a receipt is answered OK|" same "$(path=REGCMD front --data-urlencode "CMD=$receipt")" "OK|"
check "front: the receipt in its own folder" same "$(ls "$folder"/front/BON_*.txt 2>/dev/null | wc -l)" 1
check "front: /status names it" holds "$(path=status front)" '"instance":"Tillvane_SE_front"'
check "front: its own logs" holds "$(cat "$folder/TILLVANE_SE_FRONT.LOG")" \
    'Init from \[C:\\POS SVC\\TILLVANE_SE_FRONT.INI\]'
removal=$(run -instance front -remove)
check "front: -instance front -remove stops and removes it" same "$(tr -d '.' <<<"$removal")" \
    $'Stopping Tillvane_SE_front\nTillvane_SE_front is stopped\nTillvane_SE_front is removed'
check "front: the service is gone" bash -c "! '$wine' reg query '$front_key' >/dev/null 2>&1"
check "the default instance prints on" same "$(send "$receipt")" "OK|"

# Removal while it runs.
removal=$(run -remove)
check "-remove stops and removes the running service" same "$(tr -d '.' <<<"$removal")" \
    $'Stopping Tillvane_SE\nTillvane_SE is stopped\nTillvane_SE is removed'
check "the service is gone" bash -c "! '$wine' reg query '$service_key' >/dev/null 2>&1"
program_gone() { ! pgrep -f 'Pos Svc.Tillvane_se.exe' >/dev/null; }
check "the program has ended" program_gone
check "no longer answers" bash -c "! curl -s -m 2 http://127.0.0.1:$port/ >/dev/null"
check "removing again: no such service" same "$(run -remove)" "OpenService failed w/err 0x00000424"
check "a refused -remove exits non-zero" bash -c "! '$wine' '$program' -remove >/dev/null 2>&1"
check "the event source is gone" bash -c "! '$wine' reg query '$source_key' >/dev/null 2>&1"

# Started with the system: Wine refuses the delay (error 87), plain automatic start remains.
check "-install auto: installed, the refused delay a warning" same "$(run -install auto)" \
    "$wine_flag_warning"$'\nWarning: Delaying the automatic start failed w/err 0x00000057 (Invalid parameter): the service starts with the system, without delay\nTillvane_SE is installed.'
check "-install auto: started automatically" \
    holds "$("$wine" reg query "$service_key" 2>/dev/null | tr -d '\r')" "Start    REG_DWORD    0x2"
check "-install auto: removed again" same "$(run -remove)" "Tillvane_SE is removed."

finish
