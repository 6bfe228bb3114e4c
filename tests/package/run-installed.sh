#!/usr/bin/env bash
# Runs the installed programs from their installed paths only, in a network
# namespace of this script's own (scripts/package-check.sh starts it under
# `unshare -n`), so the server's port and the virtual screen meet nothing else.
#   run-installed.sh WORK-DIR REFERENCE.png
# The server runs with the unit's command line and /etc/default's values, a
# range table given through the options variable placing this machine in the
# United Kingdom; the program shows its main window on Xvfb with openbox, its
# picture is compared with REFERENCE.png, the Options dialog turns autostart on
# (the entry must start /usr/bin/cloakline), and `cloakline -s` ends it.
set -euo pipefail
work=$1
reference=$2
here=$(cd "$(dirname "$0")" && pwd)
export PATH=/usr/bin:/bin:/usr/sbin:/sbin
cd /

fail() {
    echo "installed programs: $*" >&2
    exit 1
}

pids=()
stop_all() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
}
trap stop_all EXIT

ip link set lo up

# The users' data folders of this run.
mkdir -p "$work/home" "$work/config" "$work/lock" "$work/runtime" "$work/state"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" CLOAKLINE_LOCK_DIR="$work/lock" \
    XDG_RUNTIME_DIR="$work/runtime" GSETTINGS_BACKEND=keyfile

[ "$(command -v cloakline)" = /usr/bin/cloakline ] || fail "cloakline is not /usr/bin/cloakline"
cloakline -i || fail "cloakline -i ended with $?"

# The server as its unit starts it; STATE_DIRECTORY stands in for systemd's.
# shellcheck disable=SC1091
. /etc/default/cloakline-server
STATE_DIRECTORY="$work/state"
printf '127.0.0.1,127.0.0.1,GB,United Kingdom,London\n' >"$work/ranges.csv"
# shellcheck disable=SC2034 # expanded by the eval below
CLOAKLINE_SERVER_OPTIONS="--ranges $work/ranges.csv"
cloakline-inventory --db "$STATE_DIRECTORY/cloakline.db" release --version 1.0.0.2 >/dev/null
command_line=$(sed -n 's/^ExecStart=//p' /usr/lib/systemd/system/cloakline-server.service)
# Braced variables stay one word, $CLOAKLINE_SERVER_OPTIONS splits: as systemd does.
eval "set -- $command_line"
echo "server: $*"
"$@" >"$work/server.log" 2>&1 &
pids+=($!)
base="http://$LISTEN_ADDRESS:$PORT"
for _ in $(seq 1 50); do
    curl -sf "$base/health" >/dev/null && break
    sleep 0.2
done
[ "$(curl -sf "$base/health")" = ok ] || fail "/health does not answer ok: $(cat "$work/server.log")"
update=$(curl -sf "$base/update?ACTION=Update&PID=1&VER=01000000") || fail "/update failed"
grep -q '^Result=1' <<<"$update" || fail "/update does not announce the newer release: $update"
grep -q "URL.FlagPath" <<<"$update" || fail "/update pushes no flag address: $update"
curl -sf -o /dev/null "$base/flags/GB.PNG" || fail "the installed flags are not served"
echo "server: /health, /update and /flags answer"

Xvfb :71 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=:71
for _ in $(seq 1 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.2
done
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
sleep 1

cloakline >"$work/cloakline.log" 2>&1 &
program=$!
pids+=("$program")
window=""
for _ in $(seq 1 60); do
    window=$(xdotool search --onlyvisible --pid "$program" 2>/dev/null | head -1 || true)
    [ -n "$window" ] && break
    sleep 0.5
done
[ -n "$window" ] || fail "no main window within 30 s: $(cat "$work/cloakline.log")"
echo "program: main window \"$(xdotool getwindowname "$window")\""
# The status panel fades its cards in.
sleep 4
xwd -silent -id "$window" -out "$work/main-window.xwd"
python3 "$here/window_picture.py" "$work/main-window.xwd" "$reference" --save "$work/main-window.png" ||
    fail "the main window does not look like $reference (see $work/main-window.png)"

# Options: "Automatically run Cloakline when I log in", then OK.
xdotool mousemove --window "$window" 434 217 click 1
dialog=""
for _ in $(seq 1 20); do
    dialog=$(xdotool search --onlyvisible --name '^Options$' 2>/dev/null | head -1 || true)
    [ -n "$dialog" ] && break
    sleep 0.5
done
[ -n "$dialog" ] || fail "the Options dialog did not open within 10 s"
xdotool mousemove --window "$dialog" 25 53 click 1
xdotool mousemove --window "$dialog" 329 287 click 1
entry=""
for _ in $(seq 1 20); do
    entry=$(find "$XDG_CONFIG_HOME/autostart" -name 'Cloakline*.desktop' 2>/dev/null | head -1 || true)
    [ -n "$entry" ] && break
    sleep 0.5
done
[ -n "$entry" ] || fail "Options wrote no autostart entry within 10 s"
grep -qE '^Exec=/usr/bin/cloakline( |$)' "$entry" || fail "the autostart entry does not start /usr/bin/cloakline: $(cat "$entry")"
echo "program: the autostart entry starts $(sed -n 's/^Exec=//p' "$entry")"

cloakline -s || fail "cloakline -s ended with $?"
for _ in $(seq 1 40); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.25
done
if kill -0 "$program" 2>/dev/null; then
    fail "cloakline -s did not end the program within 10 s"
fi
wait "$program" || fail "the program ended with $?"
echo "program: cloakline -s ended it"
