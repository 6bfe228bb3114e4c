#!/usr/bin/env bash
# Builds the portable layer, the Win32 backend and the WinInet downloader
# with the Windows cross compiler, so that nothing system-specific creeps into
# the portable layer and the backend keeps building. scripts/wine-test.sh
# also runs the backend's tests under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" "$root/build-mingw" \
    "-DCMAKE_TOOLCHAIN_FILE=$root/cmake/mingw-w64-x86_64.cmake" \
    -DCLOAKLINE_BUILD_APP=OFF -DCLOAKLINE_BUILD_TESTS=OFF -DCLOAKLINE_BUILD_BENCH=OFF
echo "portable layer cross-built for Windows: $(ls "$root"/build-mingw/core/*.a | wc -l) libraries," \
    "with the Win32 backend, the WinInet downloader and the gateway"
