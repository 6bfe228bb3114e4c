#!/usr/bin/env bash
# Runs one Windows program under Wine in the build's own prefix, which it
# makes on first use. CTest calls it as the cross build's emulator.
#   CLOAKLINE_WINEPREFIX  the prefix (default: <build>/wineprefix, beside the program's tree)
#   CLOAKLINE_WINE_TIMEOUT seconds one program may run (default 300)
#   CLOAKLINE_WINE_LANG   the locale Wine takes the system language from (default C.UTF-8)
set -euo pipefail
wine=${CLOAKLINE_WINE:-/usr/lib/wine/wine64}
command -v "$wine" >/dev/null 2>&1 || wine=$(command -v wine64 || command -v wine)
here=$(pwd)
# ctest runs tests from inside the build tree; the prefix sits at its top.
build=$here
while [[ "$build" != / && ! -f "$build/CMakeCache.txt" ]]; do build=$(dirname "$build"); done
[[ -f "$build/CMakeCache.txt" ]] || build=$here
export WINEPREFIX=${CLOAKLINE_WINEPREFIX:-$build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export LANG=${CLOAKLINE_WINE_LANG:-C.UTF-8}
unset LC_ALL LC_MESSAGES
# No desktop integration, no Mono or Gecko prompts in a test prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
mkdir -p "$(dirname "$WINEPREFIX")"
(
    flock -w 300 9
    if [[ ! -f "$WINEPREFIX/.cloakline-ready" ]]; then
        timeout 300 "$wine" wineboot -i >/dev/null 2>&1
        # The prefix is complete once its server has finished with it.
        timeout 120 "${CLOAKLINE_WINESERVER:-/usr/lib/wine/wineserver}" -w >/dev/null 2>&1 || true
        touch "$WINEPREFIX/.cloakline-ready"
    fi
    # One server for the whole run: a server that quits between two tests
    # resets the connection of the program that starts just then. A server
    # already running makes this one end at once. The run's end kills it.
    "${CLOAKLINE_WINESERVER:-/usr/lib/wine/wineserver}" -p </dev/null >/dev/null 2>&1 9>&- || true
) 9>"$WINEPREFIX.lock"
# The prefix's services start from the first program that needs them and
# live as long as the server, holding whatever output that program had; so the
# program writes to files, which CTest then gets once the program has ended.
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
set +e
timeout --kill-after=10 "${CLOAKLINE_WINE_TIMEOUT:-300}" "$wine" "$@" </dev/null >"$out" 2>"$err"
rc=$?
set -e
cat "$out"
cat "$err" >&2
exit "$rc"
