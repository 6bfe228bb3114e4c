#!/usr/bin/env bash
# Builds and runs the whole test suite.
#   test.sh                 the normal build
#   test.sh --sanitize LIST  the same under sanitizers (address,undefined; or thread,
#                            which leaves out the Qt layers)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

sanitize=""
if [ "${1:-}" = "--sanitize" ]; then
    sanitize=$2
fi

dir="$root/build"
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLOAKLINE_BUILD_BENCH=ON)
select=()
if [ -n "$sanitize" ]; then
    dir="$root/build-${sanitize//,/-}"
    options=(-DCMAKE_BUILD_TYPE=Debug -DCLOAKLINE_BUILD_BENCH=OFF "-DCLOAKLINE_SANITIZE=$sanitize")
    if [[ "$sanitize" == *thread* ]]; then
        # Qt is not built for ThreadSanitizer, so only the layers without it run there.
        options+=(-DCLOAKLINE_BUILD_APP=OFF)
    fi
    # The browser tests drive outside processes (Chromium, tinyproxy, the
    # server) against deadlines; the program paths they take run under the
    # sanitizers in the app tests.
    select=(-LE e2e)
    if [[ "$sanitize" == *thread* ]]; then
        # Hundreds of short-lived processes, each started slowly under it.
        select=(-LE 'e2e|random_kill')
    fi
    export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_stack_use_after_return=1}"
    export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/tests/data/lsan.supp:print_suppressions=0}"
    export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
    export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/data/tsan.supp}"
fi

"$root/scripts/build.sh" "$dir" "${options[@]}"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 300 "${select[@]}"
