#!/bin/sh
# Builds the screenshot program and runs it on a virtual screen: pictures of
# the main window (local card, hiding card, after Stop), the chooser, the
# options dialog, the about box and the splash in docs/screenshots/.
#   scripts/screenshots.sh [build-dir] [out-dir] [language]
# Everything the program writes goes to a temporary folder; browsers and the
# desktop's proxy settings are never switched.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-shots}
out=${2:-$root/docs/screenshots}
language=${3:-English}
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
ninja -C "$build" -j2 cloakline-screenshots
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/home" "$tmp/config" "$tmp/common" "$tmp/lock" "$tmp/runtime"
chmod 700 "$tmp/runtime"
env -u DBUS_SESSION_BUS_ADDRESS -u QT_QPA_PLATFORM \
    HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config" XDG_RUNTIME_DIR="$tmp/runtime" \
    GSETTINGS_BACKEND=memory CLOAKLINE_COMMON_APPDATA="$tmp/common" CLOAKLINE_LOCK_DIR="$tmp/lock" \
    LANG=C.UTF-8 \
    xvfb-run -a -s "-screen 0 1280x800x24" \
    "$build/tools/screenshots/cloakline-screenshots" "$build/app" "$out" "$language"
