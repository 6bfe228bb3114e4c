#!/usr/bin/env bash
# Load figures of cloakline-server: builds it optimised, starts it over a demo
# inventory in a temporary folder (proxies served by real tinyproxy processes
# on loopback, plus some that are down), and runs wrk against the update and
# local-information answers. Not a test: the figures depend on the machine.
#
# Usage: scripts/server-load.sh [-d SECONDS] [-c CONNECTIONS] [-t THREADS] [--server-threads N]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-server-release"
duration=10
connections=32
threads=2
server_threads=48
while [ $# -gt 0 ]; do
    case "$1" in
        -d) duration=$2; shift 2 ;;
        -c) connections=$2; shift 2 ;;
        -t) threads=$2; shift 2 ;;
        --server-threads) server_threads=$2; shift 2 ;;
        *) echo "usage: $0 [-d SECONDS] [-c CONNECTIONS] [-t THREADS] [--server-threads N]" >&2; exit 2 ;;
    esac
done
for tool in wrk tinyproxy curl; do
    command -v "$tool" >/dev/null || { echo "$0: needs $tool (scripts/setup.sh installs it)" >&2; exit 1; }
done

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCLOAKLINE_BUILD_APP=OFF -DCLOAKLINE_BUILD_TESTS=OFF -DCLOAKLINE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target cloakline-server cloakline-inventory

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Ten live proxies, each a tinyproxy of its own, and twenty addresses where nothing listens.
port=24100
server_port=24080
countries=("DE,Germany,10.45,51.17" "US,United States,-97.82,37.75" "FR,France,2.35,48.85"
           "GB,United Kingdom,-0.13,51.51" "JP,Japan,139.69,35.69" "NL,Netherlands,4.90,52.37"
           "CA,Canada,-106.35,56.13" "IT,Italy,12.50,41.90" "SE,Sweden,18.07,59.33" "CI,Cote d'Ivoire,-5.55,7.54")
{
    echo "# address,code,country,lon,lat,super"
    for i in $(seq 0 9); do
        p=$((port + i))
        printf 'Port %s\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 10\nLogLevel Critical\n' "$p" >"$work/tp$i.conf"
        tinyproxy -d -c "$work/tp$i.conf" >/dev/null 2>&1 &
        pids+=($!)
        IFS=, read -r code name lon lat <<<"${countries[$i]}"
        echo "127.0.0.1:$p,$code,$name,$lon,$lat,$((i % 4 == 3 ? 1 : 0))"
    done
    for i in $(seq 10 29); do
        IFS=, read -r code name lon lat <<<"${countries[$((i % 10))]}"
        echo "127.0.0.1:$((port + i)),$code,$name,$lon,$lat,0"
    done
} >"$work/inventory.csv"
"$build/server/cloakline-inventory" --db "$work/server.db" import "$work/inventory.csv"
"$build/server/cloakline-inventory" --db "$work/server.db" release --version 1.0.0.2 \
    --info "Cloakline 1.0.0.2" --page "http://127.0.0.1:$server_port/home" >/dev/null
sleep 0.5

"$build/server/cloakline-server" --db "$work/server.db" --port "$server_port" --health-interval 3600 \
    --threads "$server_threads" --log "$work/server.log" >"$work/server.out" &
pids+=($!)
for _ in $(seq 100); do
    grep -q "listening on" "$work/server.out" 2>/dev/null && break
    sleep 0.1
done
# The first health round runs at start-up; wait until every proxy has been checked.
for _ in $(seq 100); do
    "$build/server/cloakline-inventory" --db "$work/server.db" list | grep -q unchecked || break
    sleep 0.1
done
healthy=$("$build/server/cloakline-inventory" --db "$work/server.db" list | grep -c healthy || true)

base="http://127.0.0.1:$server_port"
update="$base/update?ACTION=Update&12345&PID=CLK&LANG=English&DAY=3&RUNTIME=7&VER=01000001&SVER=0&WVER=6_1_&WLANG=1033&CHL=756E6B6E6F77"
getinfo="$base/getinfo?MagicWord=cloakline-reference"
answer_bytes=$(curl -s --noproxy '*' "$update" | wc -c)

echo
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) before the runs"
echo "inventory: 30 proxies, $healthy healthy; update answer $answer_bytes bytes"
for url in "$update" "$getinfo"; do
    echo
    echo "== ${url%%\?*}"
    wrk -t"$threads" -c"$connections" -d"${duration}s" --latency "$url" >"$work/wrk.txt"
    grep -E "Requests/sec|Latency|50%|90%|99%|requests in|Non-2xx|Socket errors" "$work/wrk.txt"
    grep -q -E "Non-2xx|Socket errors" "$work/wrk.txt" || echo "  no errors (every answer 2xx, no socket errors)"
done
echo
errors=$(grep -c -E " [45][0-9][0-9] " "$work/server.log" || true)
echo "server log: $errors refused or failed requests"
