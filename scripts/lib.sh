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

# bench_workdir NAME: builds the service and makes build/NAME afresh, with a copy of it and an
# empty receipts folder; its path in $work. For the benchmarks, which run outside the tests.
bench_workdir() {
    scripts/setup.sh wrk
    cmake --preset default >/dev/null
    cmake --build --preset default --target Tillvane_se -j 2
    work="$root/build/$1"
    rm -rf "$work" && mkdir -p "$work/receipts"
    cp build/default/service/Tillvane_se "$work/"
}

# counted_post_script FILE BODY [EACH]: a wrk script that POSTs the form BODY (a Lua
# expression that may use `tid`, the thread's number, and `counter`, its request count), to
# FILE; with EACH, every thread stops after that many requests.
counted_post_script() {
    local stop=""
    [ -n "${3:-}" ] && stop="function response() if counter >= $3 then wrk.thread:stop() end end"
    cat >"$1" <<LUA
local threads = 0
function setup(thread)
    threads = threads + 1
    thread:set("tid", threads)
end
function init(args) counter = 0 end
function request()
    counter = counter + 1
    return wrk.format("POST", "/REGCMD",
        {["Content-Type"] = "application/x-www-form-urlencoded"}, $2)
end
$stop
LUA
}
