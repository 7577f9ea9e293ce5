#!/usr/bin/env bash
# The Windows installer as an administrator deploys it, under Wine: "msiexec /i ... /qn" with
# the till's settings as properties, the service registered and started, a receipt over HTTP,
# an upgrade to a newer MSI that keeps the configuration and the journal, and "msiexec /x"
# taking the service away while the till's files stay. The two MSIs are built here from the
# program and the Windows texts by scripts/build-msi.sh, as scripts/package.sh builds the
# released one.
#
# Usage: msi_under_wine.sh <Tillvane_se.exe> <texts folder> <scratch folder>
set -uo pipefail

exe="$(realpath "$1")"
texts="$(realpath "$2")"
scratch="$(realpath -m "$3")"
root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$root/scripts/lib.sh"
source "$(dirname "$0")/wine_lib.sh"
readonly service=Tillvane_SE
readonly service_key='HKLM\System\CurrentControlSet\Services\Tillvane_SE'
readonly source_key='HKLM\System\CurrentControlSet\Services\EventLog\Application\Tillvane_SE'
readonly uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
readonly receipt='BS|SI^Apa^2.50^2^A|AP^0^5.00|ES'

for tool in "$exe" "$wine" curl wixl msibuild msiinfo; do
    command -v "$tool" >/dev/null || { echo "missing: $tool"; exit 1; }
done
rm -rf "$scratch"
mkdir -p "$scratch"
trap end_wine_session EXIT

"$root/scripts/build-msi.sh" "$exe" "$texts" 1.0.0 "$scratch/first.msi" >/dev/null || exit 1
"$root/scripts/build-msi.sh" "$exe" "$texts" 1.1.0 "$scratch/newer.msi" >/dev/null || exit 1
# What Wine cannot show (it keeps no failure actions and enforces no folder rights): the MSI's
# own tables.
check "MSI: failure actions restart after 5, 10 and 30 s, reset after a day" \
    holds "$(msiinfo export "$scratch/first.msi" MsiServiceConfigFailureActions)" \
    $'Tillvane_SE\t5\t86400\t\t\t1\\[~\\]1\\[~\\]1\t5000\\[~\\]10000\\[~\\]30000'
check "MSI: LocalService may modify the program's folder" \
    holds "$(msiinfo export "$scratch/first.msi" MsiLockPermissionsEx)" $'INSTALLDIR\tCreateFolder\t.*(A;OICI;0x1301bf;;;LS)'

new_wine_session "$scratch"
windows_path() { echo "Z:${1//\//\\}"; }
msiexec() { "$wine" msiexec "$@" >/dev/null 2>&1; }
folder="$WINEPREFIX/drive_c/Program Files/Tillvane"
configuration="$folder/TILLVANE_SE.INI"
receipts="$WINEPREFIX/drive_c/Receipts"
mkdir -p "$receipts"
port=$(free_port)
answers() { curl -s -m 2 "http://127.0.0.1:$port/" >/dev/null; }
send_with_id() {
    curl -s -m 30 --data-urlencode "CMD=$1" --data-urlencode "REQUESTID=$2" \
        "http://127.0.0.1:$port/REGCMD"
}
query() { "$wine" reg query "$@" 2>/dev/null | tr -d '\r'; }
products() { query "$uninstall_key" /s | grep -c 'DisplayName    REG_SZ    Tillvane$'; }
settings() { tr -d '\r' <"$configuration" | grep -v '^;'; }

# A first install with the till's settings.
msiexec /i "$(windows_path "$scratch/first.msi")" /qn TCPPORT="$port" DRIVERMODEL=SELLTEXT \
    PORT=COM7 'OUTPUTFOLDER=C:\Receipts'
check "msiexec /i /qn with properties succeeds" same "$?" 0
for file in Tillvane_se.exe TILLVANE_SE.INI Tillvane_se.ini.sample README-Windows.txt; do
    check "installed: $file" test -f "$folder/$file"
done
check "the configuration is the sample with the given settings" same "$(settings | grep '=')" \
    "$(printf 'tcpPort=%s\nlistenAddress=127.0.0.1\nallowedClients=\nDebugMode=0\ndriverModel=SELLTEXT\nTVA_GROUPS=A:1|B:2|C:3|D:4\noutputFolder=C:\\Receipts\nPort=COM7' "$port")"
check "the configuration keeps the sample's comments" holds "$(cat "$configuration")" '^; baudRate=9600'
check "the configuration has CR LF line ends" same "$(grep -c $'\r$' "$configuration")" \
    "$(wc -l <"$configuration")"
registry=$(query "$service_key")
check "service: started automatically" holds "$registry" 'Start    REG_DWORD    0x2'
check "service: under the LocalService account" holds "$registry" 'ObjectName    REG_SZ    NT AUTHORITY\\LocalService'
check "service: the installed program" holds "$registry" 'ImagePath    REG_SZ    .*C:\\Program Files\\Tillvane\\Tillvane_se.exe'
check "service: its description" holds "$registry" \
    'Description    REG_SZ    Fiscal receipt printer behind a small HTTP interface'
event_source=$(query "$source_key")
check "event source: the program's message table" \
    holds "$event_source" 'EventMessageFile    REG_EXPAND_SZ    C:\\Program Files\\Tillvane\\Tillvane_se.exe'
check "event source: error, warning and information" holds "$event_source" 'TypesSupported    REG_DWORD    0x7'
check "Add/Remove Programs lists it once" same "$(products)" 1
check "with its version" holds "$(query "$uninstall_key" /s)" 'DisplayVersion    REG_SZ    1.0.0'

"$wine" net start "$service" >/dev/null 2>&1  # msiexec started it already: says so, harmless
check "the service answers" wait_for 30 answers
check "a receipt over HTTP is answered OK|" same "$(send_with_id "$receipt" msi-1)" "OK|"
check "into the given outputFolder" same "$(ls "$receipts" | grep -c '^BON_.*\.txt$')" 1
check "the journal records it" holds "$(cat "$folder/TILLVANE_SE.JSONL" 2>/dev/null)" '"id":"msi-1"'
cp "$configuration" "$scratch/configuration-before-upgrade"

# An upgrade: the newer MSI replaces the program in place; settings given to it are not written.
msiexec /i "$(windows_path "$scratch/newer.msi")" /qn TCPPORT=1
check "upgrade: msiexec /i of a newer MSI succeeds" same "$?" 0
check "upgrade: one product, the newer one" same "$(products)" 1
check "upgrade: listed with the newer version" holds "$(query "$uninstall_key" /s)" 'DisplayVersion    REG_SZ    1.1.0'
check "upgrade: the configuration is kept as it was" cmp -s "$configuration" "$scratch/configuration-before-upgrade"
check "upgrade: the service is registered" holds "$(query "$service_key")" 'Start    REG_DWORD    0x2'
"$wine" net start "$service" >/dev/null 2>&1
check "upgrade: the service answers on the kept port" wait_for 30 answers
check "upgrade: a retry is answered from the kept journal" same "$(send_with_id "$receipt" msi-1)" "OK|"
check "upgrade: and prints nothing more" same "$(ls "$receipts" | grep -c '^BON_.*\.txt$')" 1

# Removal: the service and the program go, the till's configuration and journal stay.
msiexec /x "$(windows_path "$scratch/newer.msi")" /qn
check "msiexec /x /qn succeeds" same "$?" 0
check "removal: the service is gone" bash -c "! '$wine' reg query '$service_key' >/dev/null 2>&1"
check "removal: the event source is gone" bash -c "! '$wine' reg query '$source_key' >/dev/null 2>&1"
check "removal: no longer in Add/Remove Programs" same "$(products)" 0
check "removal: the program is gone" test ! -e "$folder/Tillvane_se.exe"
check "removal: no longer answers" bash -c "! curl -s -m 2 http://127.0.0.1:$port/ >/dev/null"
check "removal: the configuration stays as it was" cmp -s "$configuration" "$scratch/configuration-before-upgrade"
check "removal: the journal stays" holds "$(cat "$folder/TILLVANE_SE.JSONL" 2>/dev/null)" '"id":"msi-1"'

finish
