# Shell pieces the scripts share; sourced, never run.

# wait_for SECONDS COMMAND...: runs COMMAND until it succeeds; fails once SECONDS have passed.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.05
    done
}

# wait_http PORT [SECONDS]: waits until something answers HTTP on 127.0.0.1:PORT; says so and
# fails when nothing does within SECONDS (default 10).
wait_http() {
    wait_for "${2:-10}" curl -s -o /dev/null "http://127.0.0.1:$1/" && return 0
    echo "nothing answers on port $1" >&2
    return 1
}

# median NUMBER...: the middle one of the numbers.
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# post_script FILE BODY: a wrk script that POSTs the form BODY, written to FILE.
post_script() {
    printf 'wrk.method = "POST"\nwrk.body = "%s"\nwrk.headers["Content-Type"] = "application/x-www-form-urlencoded"\n' \
        "$2" >"$1"
}
