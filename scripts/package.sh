#!/usr/bin/env bash
# Builds the Debian packages cloakline and cloakline-server into BUILD-DIR/packages/,
# reusing the build tree that scripts/test.sh makes (default build/, RelWithDebInfo;
# the packages carry stripped programs).
#   scripts/package.sh [BUILD-DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
else
    # Picks up install rules added since the tree was configured.
    cmake "$build" >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target cloakline cloakline-guard cloakline-server cloakline-inventory \
    cloakline_theme_icons cloakline_package_docs
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB -B "$build/packages" >/dev/null)
ls "$build"/packages/*.deb
