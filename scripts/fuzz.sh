#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each of them.
#   fuzz.sh [SECONDS]   each target for SECONDS (default 60), two at a time
# First every saved regression input is replayed, then each target starts
# from a scratch copy of its seeds in fuzz/corpus/ (the repository is never
# written). Fails when any target reports a crash, a leak, a sanitizer error
# or a broken property; the inputs that did so are kept in the work folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build="$root/build-fuzz"
work=$(mktemp -d "${TMPDIR:-/tmp}/cloakline-fuzz.XXXXXX")

CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2

targets=$(sed -n 's/^ *\(fuzz_[a-z_]*\))\{0,1\}$/\1/p' "$root/fuzz/CMakeLists.txt")
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=0
for target in $targets; do
    regressions="$root/fuzz/regressions/$target"
    if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
        if ! "$build/$target" -runs=1 "$regressions"/* >"$work/$target.replay.log" 2>&1; then
            echo "FAIL $target: a saved regression input fails again (log: $work/$target.replay.log)"
            failed=1
        fi
    fi
done

run_one() {
    local target=$1
    local corpus="$work/corpus/$target"
    mkdir -p "$corpus" "$work/artifacts"
    cp -r "$root/fuzz/corpus/$target/." "$corpus/"
    local dict=()
    if [ -f "$root/fuzz/dict/$target.dict" ]; then
        dict=("-dict=$root/fuzz/dict/$target.dict")
    fi
    "$build/$target" "${dict[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/artifacts/$target-" "$corpus" \
        >"$work/$target.log" 2>&1
}
export -f run_one
export root build work seconds

# Two at a time, one per core.
status=0
printf '%s\n' $targets | xargs -P 2 -I{} bash -c 'run_one {} || echo {} >>"$work/failed"' || status=$?

for target in $targets; do
    log="$work/$target.log"
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    line=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$line")
    corp=$(sed -n 's/.* corp: \([0-9]*\/[^ ]*\).*/\1/p' <<<"$line")
    if grep -qx "$target" "$work/failed" 2>/dev/null; then
        echo "FAIL $target: execs ${execs:-?}, see $log and $work/artifacts/"
        grep -E 'ERROR:|property failed|SUMMARY' "$log" | head -3 | sed 's/^/    /'
        failed=1
    else
        echo "ok   $target: execs ${execs:-?}, coverage ${cov:-?} edges, corpus ${corp:-?} (files/bytes)"
    fi
done
if [ "$failed" -ne 0 ] || [ "$status" -ne 0 ]; then
    echo "fuzzing found problems; logs and inputs in $work"
    exit 1
fi
rm -rf "$work"
