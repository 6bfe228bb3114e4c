#!/usr/bin/env bash
# Builds the benchmarks optimised and runs them.
#   ./scripts/bench.sh [Google Benchmark options]   every benchmark
#   ./scripts/bench.sh gateway [gateway_bench options]   only the gateway's
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" "$root/build-release" -DCMAKE_BUILD_TYPE=Release -DCLOAKLINE_BUILD_APP=OFF
if [ "${1:-}" = gateway ]; then
    shift
    exec "$root/build-release/bench/gateway_bench" "$@"
fi
for b in "$root"/build-release/bench/*_bench; do
    # The gateway's benchmark is a report of its own and takes no Google Benchmark options.
    if [ "$(basename "$b")" = gateway_bench ]; then
        "$b"
    else
        "$b" "$@"
    fi
done
