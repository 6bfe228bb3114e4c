#!/usr/bin/env bash
# Builds the benchmarks optimised and runs them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" "$root/build-release" -DCMAKE_BUILD_TYPE=Release -DCLOAKLINE_BUILD_APP=OFF
for b in "$root"/build-release/bench/*_bench; do
    "$b" "$@"
done
