#!/usr/bin/env bash
# Regenerates data/lang/English.lan from the program's forms and named strings.
# Usage: harvest-languages.sh [BUILD_DIR]   (default: build)
# Other languages are translated by hand; the language tests name the keys they lack.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cmake --build "$build" --target cloakline-harvest
LC_ALL=C.UTF-8 "$build/app/cloakline-harvest" "$root/data/lang/English.lan"
echo "written: $root/data/lang/English.lan"
