#!/usr/bin/env bash
# Installs the built .deb on this machine, starts the installed program in the foreground on a
# scratch configuration, sends one receipt, and removes the package again. Needs root. Then
# opens the Windows zip: it must hold the program the Wine tests run, needing no DLL beside it,
# and texts with CR LF that describe every key; the MSI must lie beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
deb="$(ls build/default/packages/tillvane_*.deb | head -n1)"
port="${PORT:-18088}"
scratch="$(mktemp -d)"
export DEBIAN_FRONTEND=noninteractive
dpkg -i "$deb"
cleanup() {
    [ -z "${pid:-}" ] || kill "$pid" 2>/dev/null || true
    dpkg --purge tillvane >/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
test -x /opt/tillvane/Tillvane_se
test -f /lib/systemd/system/Tillvane_SE.service
test -f /opt/tillvane/prometheus/tillvane_alerts.yml
test -f /lib/systemd/system/Tillvane_SE@.service
getent passwd tillvane >/dev/null
# The scratch configuration replaces the sample for this trial; purge takes it away.
cat >/opt/tillvane/Tillvane_se.ini <<CONFIG
driverModel=SELLTEXT
outputFolder=$scratch
TVA_GROUPS=A:1
tcpPort=$port
listenAddress=127.0.0.1
CONFIG
chmod 777 "$scratch"
(cd /opt/tillvane && exec setpriv --reuid=tillvane --regid=tillvane --init-groups ./Tillvane_se) \
    >"$scratch/out.txt" 2>&1 &
pid=$!
wait_http "$port"
reply="$(curl -fsS --data-urlencode 'CMD=BS|SI^Apa^2.50^2^A|AP^0^5.00|ES' "http://127.0.0.1:$port/REGCMD")"
echo "receipt: $reply"
[ "$reply" = "OK|" ]
ls "$scratch"/*.txt >/dev/null
kill "$pid"
wait "$pid" || true
pid=
dpkg -r tillvane
getent passwd tillvane >/dev/null || { echo "the tillvane account went with the package"; exit 1; }
echo "package round trip: OK"

# The Windows zip, when it was built: the program, the sample configuration and the README;
# the program is the one the Wine tests run, and it imports only DLLs of Windows itself (the
# C and C++ runtimes are linked in).
zip="$(ls build/windows/packages/tillvane-*-windows-x64.zip 2>/dev/null | head -n1 || true)"
if [ -n "$zip" ]; then
    unpacked="$scratch/zip"
    mkdir -p "$unpacked"
    (cd "$unpacked" && cmake -E tar xf "$OLDPWD/$zip")
    folder="$(ls -d "$unpacked"/tillvane-*-windows-x64)"
    for file in Tillvane_se.exe Tillvane_se.ini.sample README-Windows.txt \
        prometheus/tillvane_alerts.yml; do
        test -f "$folder/$file" || { echo "the Windows zip lacks $file"; exit 1; }
    done
    cmp "$folder/Tillvane_se.exe" build/windows/service/Tillvane_se.exe
    tests/packaging/windows_texts.sh "$folder" .
    imports="$(x86_64-w64-mingw32-objdump -p "$folder/Tillvane_se.exe" | awk '/DLL Name:/ { print $3 }')"
    echo "Windows program imports: $(echo $imports)"
    if grep -qi '^lib' <<<"$imports"; then
        echo "the Windows program needs a runtime DLL beside it"
        exit 1
    fi
    echo "Windows zip: OK"
    # The MSI beside it, of the same version (msiinfo ends its lines with CR LF).
    msi="${zip%.zip}.msi"
    test -f "$msi" || { echo "no MSI beside the zip: $msi"; exit 1; }
    version="$(msiinfo export "$msi" Property | awk -F '\t' '$1 == "ProductVersion" { sub(/\r$/, "", $2); print $2 }')"
    [ "$msi" == "build/windows/packages/tillvane-$version-windows-x64.msi" ] ||
        { echo "the MSI says version $version"; exit 1; }
    echo "Windows MSI: OK"
fi
