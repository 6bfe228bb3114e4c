#!/bin/sh
# Draws the status panel with the shipped movie file, offscreen, into a PNG
# (and a second one 150 pixels high) to look at.
#   scripts/panel-screenshot.sh [build-dir] [out.png]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=${2:-$PWD/panel.png}
cmake --build "$build" --target flash_form_test
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} \
CLOAKLINE_PANEL_MOVIE="$root/data/res/shroud.dat" CLOAKLINE_PANEL_SHOT="$out" \
    "$build/tests/app/flash_form_test" --gtest_also_run_disabled_tests --gtest_filter='*DISABLED_Screenshot'
echo "$out"
