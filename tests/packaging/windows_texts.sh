#!/usr/bin/env bash
# The texts that go to Windows with the program (the zip and the MSI): CR LF line ends, so
# that every Notepad shows them as lines, and a sample configuration and README that name
# every key the program reads. The keys are taken from the sources, so a new key without its
# description fails here.
#
# Usage: windows_texts.sh <folder with Tillvane_se.ini.sample and README-Windows.txt> <source root>
set -uo pipefail
texts="$1"
sources="$2"
# Fewer keys than this means the search below no longer finds how the program reads them.
readonly least_keys=15

failed=0
fail() { echo "FAIL  $*"; failed=1; }

for file in Tillvane_se.ini.sample README-Windows.txt; do
    path="$texts/$file"
    [ -s "$path" ] || { fail "$file is missing"; continue; }
    lines=$(wc -l <"$path")
    crlf=$(grep -c $'\r$' "$path")
    [ "$lines" -eq "$crlf" ] || fail "$file: $((lines - crlf)) of $lines lines end without CR LF"
    [ "$(tail -c 2 "$path" | od -An -c | tr -d ' ')" == '\r\n' ] || fail "$file: last line without CR LF"
done

# Every key read through the configuration: the named key constants (k…Key = "key") that the
# readers use, and any GetValue(x, "key") or *Setting(x, "key") still written with its literal.
mapfile -t keys < <(grep -rhoE --include='*.cpp' --include='*.h' \
    -e '(GetValue|Setting)\([^,()]+, *"[A-Za-z_]+"' -e 'k[A-Za-z]+Key = "[A-Za-z_]+"' \
    "$sources"/{api,app,base,config,http,platform,registers,requests,service,status} 2>/dev/null |
    sed -E 's/.*"([A-Za-z_]+)"$/\1/' | sort -u)
[ "${#keys[@]}" -ge "$least_keys" ] || fail "only ${#keys[@]} keys found in the sources: ${keys[*]}"
sample=$(tr -d '\r' <"$texts/Tillvane_se.ini.sample" 2>/dev/null)
readme=$(tr -d '\r' <"$texts/README-Windows.txt" 2>/dev/null)
for key in "${keys[@]}"; do
    grep -qE "^(; )?$key=" <<<"$sample" || fail "the sample lacks a line for $key"
    grep -qE "^; $key: " <<<"$sample" || fail "the sample does not describe $key"
    grep -qE "^    $key +" <<<"$readme" || fail "README-Windows.txt's key table lacks $key"
done
# Every setting line in the sample is one the program reads (no misspelt key).
while IFS='=' read -r key _; do
    printf '%s\n' "${keys[@]}" | grep -qx -- "$key" || fail "the sample sets $key, which nothing reads"
done < <(grep -E '^[A-Za-z_]+=' <<<"$sample")

[ "$failed" -eq 0 ] && echo "Windows texts: CR LF, ${#keys[@]} keys in the sample and README"
exit "$failed"
