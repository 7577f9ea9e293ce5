#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (the fuzz preset: clang with the address and
# undefined-behaviour sanitizers) and runs each for a bounded time, starting from its seed
# corpus in fuzz/corpus/<target>, with the words of fuzz/dict/<target>.dict (or of its input
# language, command_text.dict for both command-text targets). Fails when any target finds a
# crash, a hang or a broken property; the input is kept in build/fuzz/findings/<target>/.
#   FUZZ_SECONDS   time per target (default 60)
#   FUZZ_TARGETS   targets to run (default: every fuzz/*_fuzzer.cpp)
#   FUZZ_JOBS      build jobs (default 2)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

seconds="${FUZZ_SECONDS:-60}"
targets="${FUZZ_TARGETS:-$(cd fuzz && ls ./*_fuzzer.cpp | sed 's|^\./||; s|\.cpp$||')}"
build="$root/build/fuzz"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "${FUZZ_JOBS:-2}" --target fuzzers

# The scratch folders of the targets go here, not into the system's /tmp.
export TMPDIR="$build/tmp"
mkdir -p "$TMPDIR"
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=()
for target in $targets; do
    seeds="$root/fuzz/corpus/${target%_fuzzer}"
    # New inputs the run finds go to a working corpus in the build folder; the seeds stay
    # as they are in the repository.
    corpus="$build/corpus/$target"
    findings="$build/findings/$target"
    mkdir -p "$corpus" "$findings"
    # The words of the target's input language, where it has some.
    dict=()
    words="$root/fuzz/dict/${target%_fuzzer}.dict"
    # Targets of one input language with two drivers behind it share its words.
    [ -f "$words" ] || words="$root/fuzz/dict/${target%_*_fuzzer}.dict"
    if [ -f "$words" ]; then dict=(-dict="$words"); fi
    echo "== $target: ${seconds}s"
    start=$SECONDS
    if "$build/fuzz/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
        -print_final_stats=1 "${dict[@]}" -artifact_prefix="$findings/" "$corpus" "$seeds" \
        >"$build/$target.log" 2>&1; then
        echo "   passed in $((SECONDS - start))s: $(grep -E '^stat::number_of_executed_units' \
            "$build/$target.log" | awk '{print $2}') runs"
    else
        echo "   FAILED after $((SECONDS - start))s; the log follows, the input is in $findings"
        grep -E -B2 -A25 'ERROR|runtime error|property violated|deadly signal|timeout' \
            "$build/$target.log" | head -60
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz targets that failed: ${failed[*]}"
    exit 1
fi
echo "every fuzz target passed"
