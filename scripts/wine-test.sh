#!/usr/bin/env bash
# Cross-builds the portable layer, the Win32 backend, the WinInet downloader
# and their tests with mingw-w64 for 64-bit and 32-bit Windows, then runs the
# 64-bit tests under Wine in a fresh prefix, on a virtual screen (the tests'
# hidden main windows need a window station). The 32-bit build is compiled
# and linked only: Debian's wine64 runs 64-bit programs.
#   CLOAKLINE_JOBS  parallel compile jobs (default 2)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${CLOAKLINE_JOBS:-2}
b64=$root/build-mingw64
b32=$root/build-mingw32
wineserver=${CLOAKLINE_WINESERVER:-/usr/lib/wine/wineserver}
command -v "$wineserver" >/dev/null 2>&1 || wineserver=$(command -v wineserver)
options=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCLOAKLINE_BUILD_APP=OFF -DCLOAKLINE_BUILD_TESTS=OFF
    -DCLOAKLINE_BUILD_BENCH=OFF -DCLOAKLINE_BUILD_WIN32_TESTS=ON)

seconds() { date +%s; }

start=$(seconds)
cmake -S "$root" -B "$b64" "-DCMAKE_TOOLCHAIN_FILE=$root/cmake/mingw-w64-x86_64.cmake" "${options[@]}" >/dev/null
cmake --build "$b64" -j "$jobs"
built64=$(seconds)
cmake -S "$root" -B "$b32" "-DCMAKE_TOOLCHAIN_FILE=$root/cmake/mingw-w64-i686.cmake" "${options[@]}" >/dev/null
cmake --build "$b32" -j "$jobs"
built32=$(seconds)
echo "x86-64 build: $((built64 - start)) s, i686 build: $((built32 - built64)) s"

# A fresh prefix for every run; tests/win32/wine-run.sh makes it on first use.
export CLOAKLINE_WINEPREFIX=$b64/wineprefix
"$wineserver" -k >/dev/null 2>&1 || true
rm -rf "$CLOAKLINE_WINEPREFIX" "$CLOAKLINE_WINEPREFIX.lock"
export WINEDEBUG=-all

log=$b64/wine-test.log
set +e
# xvfb-run keeps its own server for this run only; the prefix's wineserver
# is ended before the screen goes.
timeout 1200 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    WINEPREFIX=$CLOAKLINE_WINEPREFIX "$0" -k >/dev/null 2>&1
    ctest --test-dir "$1" -j 2 --timeout 180 --output-on-failure
    rc=$?
    WINEPREFIX=$CLOAKLINE_WINEPREFIX "$0" -k >/dev/null 2>&1
    exit $rc' "$wineserver" "$b64" 2>&1 | tee "$log"
rc=${PIPESTATUS[0]}
set -e
ran=$(seconds)
summary=$(grep -E '^[0-9]+% tests passed' "$log" | tail -1 || true)
total=$(sed -nE 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/p' <<<"$summary")
failed=$(sed -nE 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/p' <<<"$summary")
echo "Wine run: $((ran - built32)) s (prefix creation included)"
echo "$((${total:-0} - ${failed:-0})) passed, ${failed:-0} failed"
if [[ -z "$summary" ]]; then
    echo "no test summary: the run did not finish" >&2
    exit 1
fi
exit "$rc"
