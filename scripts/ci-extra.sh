#!/usr/bin/env bash
# The checks CI runs besides scripts/test.sh: the whole test suite built as a user's plain
# Release build makes it (-O3, warnings not errors) and under the address and
# undefined-behaviour sanitizers, the threaded parts under the thread sanitizer, and every
# fuzz target for a bounded time. Prints how long each part took.
#   CI_EXTRA_PARTS  parts to run (default "release asan tsan fuzz")
#   FUZZ_SECONDS    time per fuzz target (scripts/fuzz.sh; default 60)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/setup.sh --tests

jobs="$(nproc)"
# The thread-sanitizer run: the tests where threads meet (worker and service stop, web server
# thread, driver queue, app context, the drivers with the serial link's read time-outs) and
# the end-to-end runs of the real program, itself built with the sanitizer, over HTTP and
# against the printer simulator on a pty. The text helpers, configuration reader, the API's
# access lists and the interpreter run on one thread and are left to the asan run; only the
# programs these tests need are built.
tsan_labels='^(http|requests|app|service|registers|e2e|e2e_serial)$'
tsan_targets=(http_tests requests_tests app_tests service_tests registers_tests e2e_tests
    e2e_serial_tests Tillvane_se printer_simulator)

release() {
    cmake --preset release >/dev/null
    cmake --build --preset release -j "$jobs"
    ctest --preset release -j "$jobs"
}

asan() {
    cmake --preset asan >/dev/null
    cmake --build --preset asan -j "$jobs"
    # Leaks, undefined behaviour and memory errors fail the test; the programs that the
    # end-to-end tests start inherit the same settings.
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --preset asan -j "$jobs"
}

tsan() {
    cmake --preset tsan >/dev/null
    cmake --build --preset tsan -j "$jobs" --target "${tsan_targets[@]}"
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
        ctest --preset tsan -j "$jobs" -L "$tsan_labels"
}

fuzz() {
    FUZZ_JOBS="$jobs" scripts/fuzz.sh
}

timings=()
for part in ${CI_EXTRA_PARTS:-release asan tsan fuzz}; do
    echo "== $part"
    start=$SECONDS
    "$part"
    timings+=("$part: $((SECONDS - start)) s")
done
echo "== time of each part"
printf '   %s\n' "${timings[@]}"
