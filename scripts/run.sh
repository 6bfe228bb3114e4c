#!/usr/bin/env bash
# Builds the program and the reference server and runs the whole product on
# this machine: the server on 127.0.0.1:8480 with demo proxies (see
# scripts/demo-stack.sh), then the program. Without a display the program
# runs on a virtual one. Everything stops when the program ends.
#
#   run.sh [--system-proxy] [program switches, e.g. -d]
#
# The build tree is build/ (CLOAKLINE_BUILD_DIR names another). The demo's
# folder, with the program's data folder and its debug.log, goes away at the end.
#
# By default the program gets a desktop proxy store of its own (GNOME's
# settings in a key file of the demo folder) and its own data folders, so
# your desktop never points at the demo's loopback proxies and your settings
# stay as they are; scripts/demo-browser.sh opens Chromium on that store.
# --system-proxy lets Hide switch your real desktop's proxy settings instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CLOAKLINE_BUILD_DIR:-$root/build}

system_proxy=""
arguments=()
for argument in "$@"; do
    if [ "$argument" = --system-proxy ]; then
        system_proxy=1
    else
        arguments+=("$argument")
    fi
done

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j "$(nproc)" --target cloakline cloakline_skins cloakline_artwork cloakline_flags \
    cloakline-server cloakline-inventory

demo=$(mktemp -d "${TMPDIR:-/tmp}/cloakline-demo.XXXXXX")
# A program killed before its own Stop would leave the real desktop pointed at
# a demo proxy that is about to go away.
release_system_proxy() {
    command -v gsettings >/dev/null || return 0
    [ "$(gsettings get org.gnome.system.proxy mode 2>/dev/null)" = "'manual'" ] || return 0
    local host port
    host=$(gsettings get org.gnome.system.proxy.http host 2>/dev/null | tr -d "'")
    port=$(gsettings get org.gnome.system.proxy.http port 2>/dev/null)
    if grep -v '^#' "$root/data/demo/proxies.txt" | grep -qx -- "$host $port"; then
        gsettings set org.gnome.system.proxy mode none || true
    fi
}
cleanup() {
    if [ -n "$system_proxy" ]; then
        release_system_proxy
    fi
    "$root/scripts/demo-stack.sh" stop "$demo/stack" || true
    rm -rf "$demo"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
"$root/scripts/demo-stack.sh" start "$demo/stack" "$build"

# A demo installation: the program with what ships beside it, the shipped
# constants unchanged (server on 127.0.0.1:8480, empty proxy lists that the
# server's update answer fills).
program_dir="$demo/program"
mkdir -p "$program_dir"
cp "$build/app/cloakline" "$program_dir/"
for part in const.dat lang res skins; do
    if [ -e "$build/app/$part" ]; then
        cp -r "$build/app/$part" "$program_dir/"
    fi
done

mkdir -p "$demo/common" "$demo/lock"
export CLOAKLINE_COMMON_APPDATA="$demo/common" CLOAKLINE_LOCK_DIR="$demo/lock"
if [ -z "$system_proxy" ]; then
    mkdir -p "$demo/home" "$demo/config"
    if [ -z "${XAUTHORITY:-}" ] && [ -f "${HOME:-}/.Xauthority" ]; then
        export XAUTHORITY="$HOME/.Xauthority"
    fi
    export HOME="$demo/home" XDG_CONFIG_HOME="$demo/config" GSETTINGS_BACKEND=keyfile XDG_CURRENT_DESKTOP=GNOME
    echo
    echo "The program switches a desktop proxy store of its own. To watch a browser follow Hide and Stop:"
    echo "    $root/scripts/demo-browser.sh $demo"
else
    echo
    echo "--system-proxy: Hide switches this desktop's proxy settings; Stop and the program's end switch them back."
fi
echo "Press Hide in the program: the fake card shows a proxy in the United States; Select Fake Location offers Germany and Japan too."
echo

status=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: starting the program on a virtual screen (xvfb-run). Stop it with Ctrl+C."
    xvfb-run -a -s "-screen 0 1280x800x24" "$program_dir/cloakline" ${arguments[@]+"${arguments[@]}"} || status=$?
else
    "$program_dir/cloakline" ${arguments[@]+"${arguments[@]}"} || status=$?
fi
exit "$status"
