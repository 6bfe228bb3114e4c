#!/usr/bin/env bash
# Load figures of cloakline-server: builds it optimised, starts it over a demo
# inventory in a temporary folder (proxies served by real tinyproxy processes
# on loopback, plus some that are down), and runs wrk against the update and
# local-information answers. Then, in the same run, the figures under many
# connections, against the server and against nginx serving a static file of
# the update answer's size with the same wrk parameters:
#   a) 10,000 idle kept-alive connections held open (tools/conn-holder), and
#      wrk -c64 on /update;
#   b) wrk -c1000 on /update.
# Not a test: the figures depend on the machine.
#
# Usage: scripts/server-load.sh [-d SECONDS] [-c CONNECTIONS] [-t THREADS] [--server-threads N]
#                               [--idle N] [--many N]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-server-release"
duration=10
connections=32
threads=2
server_threads=""
idle=10000
many=1000
while [ $# -gt 0 ]; do
    case "$1" in
        -d) duration=$2; shift 2 ;;
        -c) connections=$2; shift 2 ;;
        -t) threads=$2; shift 2 ;;
        --server-threads) server_threads=$2; shift 2 ;;
        --idle) idle=$2; shift 2 ;;
        --many) many=$2; shift 2 ;;
        *) echo "usage: $0 [-d SECONDS] [-c CONNECTIONS] [-t THREADS] [--server-threads N] [--idle N] [--many N]" >&2
           exit 2 ;;
    esac
done
for tool in wrk tinyproxy curl nginx python3; do
    command -v "$tool" >/dev/null || { echo "$0: needs $tool (scripts/setup.sh installs it)" >&2; exit 1; }
done

# The held connections, wrk's thousand and the server's own files.
ulimit -n "$(ulimit -Hn)"
if [ "$(ulimit -n)" != unlimited ] && [ "$(ulimit -n)" -lt $((idle + many + 1000)) ]; then
    echo "$0: needs $((idle + many + 1000)) open files; the hard limit is $(ulimit -n)" >&2
    exit 1
fi

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

# Caps above the measured counts: wrk's connections all come from 127.0.0.1.
"$build/server/cloakline-server" --db "$work/server.db" --port "$server_port" --health-interval 3600 \
    ${server_threads:+--threads "$server_threads"} --max-connections-per-client $((many + idle)) \
    --log "$work/server.log" >"$work/server.out" &
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

# nginx in the foreground (its master is our child) with a prefix of its own,
# serving the update answer as a file; two workers for the two cores, and
# keep-alive as the server has it.
nginx_port=24090
mkdir -p "$work/nginx/www" "$work/nginx/logs"
curl -s --noproxy '*' -o "$work/nginx/www/update" "$update"
chmod -R a+rX "$work"
cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
worker_processes 2;
worker_rlimit_nofile $((idle + many + 1000));
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log error;
events { worker_connections $((idle + many + 500)); }
http {
    access_log off;
    keepalive_timeout 15s;
    keepalive_requests 100;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    default_type text/plain;
    server {
        listen 127.0.0.1:$nginx_port backlog=4096;
        root $work/nginx/www;
        location = /health { return 200 "ok"; }
    }
}
EOF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" &
pids+=($!)
for _ in $(seq 100); do
    curl -s --noproxy '*' -o /dev/null "http://127.0.0.1:$nginx_port/update" && break
    sleep 0.1
done
nginx_bytes=$(curl -s --noproxy '*' "http://127.0.0.1:$nginx_port/update" | wc -c)

# One wrk run: prints its figures and leaves "requests/s p50 p99 timeouts errors" in $work/last.
measure() {
    local label=$1 url=$2 count=$3
    wrk -t"$threads" -c"$count" -d"${duration}s" --latency "$url" >"$work/wrk.txt" 2>&1 || true
    awk -v label="$label" -v last="$work/last" '
        function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000; return v }
        /Requests\/sec/ { rps = $2 }
        $1 == "50%" { p50 = ms($2) }
        $1 == "99%" { p99 = ms($2) }
        /Socket errors/ { gsub(",", ""); connect = $4; read = $6; write = $8; timeout = $10 }
        /Non-2xx/ { non2xx = $NF }
        END {
            printf "  %-40s %9.0f requests/s  p50 %7.2f ms  p99 %7.2f ms  timeouts %d  errors %d\n",
                label, rps, p50, p99, timeout, connect + read + write + non2xx
            printf "%s %s %s %d %d\n", rps, p50, p99, timeout, connect + read + write + non2xx > last
        }' "$work/wrk.txt"
}

# Holds $idle connections to port $1 (each asked for $2 once) until hold_end.
hold_start() {
    python3 "$root/tools/conn-holder/conn_holder.py" 127.0.0.1 "$1" --count "$idle" --path "$2" \
        >"$work/holder.out" 2>&1 &
    holder=$!
    pids+=("$holder")
    for _ in $(seq 1200); do
        grep -q holding "$work/holder.out" && break
        kill -0 "$holder" 2>/dev/null || break
        sleep 0.1
    done
    echo "  $(grep holding "$work/holder.out" || echo "the holder did not start: $(tail -1 "$work/holder.out")")"
}
hold_end() {
    kill "$holder" 2>/dev/null || true
    wait "$holder" 2>/dev/null || true
    echo "  $(grep ended "$work/holder.out" || true)"
}

echo
echo "== many connections: /update ($answer_bytes bytes) against nginx serving a file of $nginx_bytes bytes"
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) before these runs"
declare -A figures
for target in server nginx; do
    if [ "$target" = server ]; then
        url=$update; port=$server_port
    else
        url="http://127.0.0.1:$nginx_port/update"; port=$nginx_port
    fi
    echo "-- $target: $idle idle kept-alive connections open, then wrk -c64"
    hold_start "$port" /health
    measure "$target, $idle idle + wrk -c64" "$url" 64
    figures[$target-idle]=$(cat "$work/last")
    hold_end
    echo "-- $target: wrk -c$many"
    measure "$target, wrk -c$many" "$url" "$many"
    figures[$target-many]=$(cat "$work/last")
done
echo
for run in idle many; do
    read -r server_rps _ <<<"${figures[server-$run]}"
    read -r nginx_rps _ <<<"${figures[nginx-$run]}"
    label="wrk -c$many"
    [ "$run" = idle ] && label="$idle idle + wrk -c64"
    awk -v label="$label" -v s="$server_rps" -v n="$nginx_rps" 'BEGIN {
        printf "ratio server/nginx (%s): %.2f (%.0f / %.0f requests/s)\n", label, (n > 0 ? s / n : 0), s, n }'
done
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) after the runs"

echo
errors=$(grep -c -E " [45][0-9][0-9] " "$work/server.log" || true)
echo "server log: $errors refused or failed requests"
