# Shell pieces of the Wine end-to-end tests; sourced, never run.

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

passed=0
failed=0
check() {  # check <what> <command...>: one row of the result table
    local what="$1"
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "PASS  $what"
    else
        failed=$((failed + 1))
        echo "FAIL  $what"
    fi
}
same() { [ "$1" == "$2" ] || { printf '  expected: %q\n  actual:   %q\n' "$2" "$1"; return 1; }; }
holds() { grep -q -- "$2" <<<"$1" || { printf '  %q does not hold %q\n' "$1" "$2"; return 1; }; }
finish() { echo "$passed passed, $failed failed"; [ "$failed" -eq 0 ]; }

# new_wine_session <scratch>: a fresh prefix in <scratch>/prefix, kept up while the test runs.
# Wine ends its services a few seconds after the last ordinary program has gone: a console
# that waits for input (a pipe held open on descriptor 8 until the test ends) keeps it up.
new_wine_session() {
    export WINEPREFIX="$1/prefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    "$wine" wineboot -i >/dev/null 2>&1
    "$wineserver" -w
    mkfifo "$1/keep-session"
    "$wine" cmd.exe <"$1/keep-session" >/dev/null 2>&1 &
    exec 8>"$1/keep-session"
    wait_for 30 "$wine" sc query >/dev/null 2>&1
}
end_wine_session() {
    exec 8>&- 2>/dev/null
    "$wineserver" -k 2>/dev/null
    wait 2>/dev/null
}

# A TCP port nothing listens on.
# Below the system's ephemeral range (32768 and up on Linux), where no outgoing connection
# can be holding the port that a service is about to listen on.
free_port() {
    local port=$((12000 + RANDOM % 20000))
    while (exec 9<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((12000 + RANDOM % 20000)); done
    echo "$port"
}
