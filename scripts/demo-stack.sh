#!/usr/bin/env bash
# The program's whole world on one machine: the reference server on loopback
# with the demo inventory, and the demo's HTTP proxies (tinyproxy), each
# sending its outgoing traffic from its own loopback address.
#
#   demo-stack.sh start DIR [BUILD]   start everything in DIR (BUILD: the build
#                                     tree with server/, default <repo>/build)
#   demo-stack.sh stop DIR            stop what "start DIR" started
#   demo-stack.sh status DIR          show what runs
#
# Environment: CLOAKLINE_DEMO_HOST, the host name browsers open the check-IP
# page by (default: this machine's name). It must resolve to 127.0.0.1 and
# must not be "localhost": browsers never send loopback literals or
# "localhost" through a proxy.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
port=8480
health_interval=5
demo="$root/data/demo"

die() {
    echo "demo-stack: $*" >&2
    exit 1
}

usage() {
    echo "usage: $0 start DIR [BUILD] | stop DIR | status DIR" >&2
    exit 2
}

# True when something accepts connections on port $1 of address $2 (127.0.0.1).
port_taken() {
    (exec 3<>"/dev/tcp/${2:-127.0.0.1}/$1") 2>/dev/null
}

# The name browsers reach the server by; fails unless it resolves to 127.0.0.1.
demo_host() {
    local host=${CLOAKLINE_DEMO_HOST:-$(hostname)}
    if [ -z "$host" ] || [ "$host" = localhost ]; then
        die "no usable host name ('$host'); set CLOAKLINE_DEMO_HOST to a name that resolves to 127.0.0.1"
    fi
    local address
    address=$(getent ahostsv4 "$host" | awk 'NR == 1 { print $1 }')
    if [ "$address" != 127.0.0.1 ]; then
        die "the host name '$host' resolves to '${address:-nothing}', not 127.0.0.1. Browsers never send
loopback addresses through a proxy, so the demo's pages are opened by a host name. Add the line
    127.0.0.1 $host
to /etc/hosts, or set CLOAKLINE_DEMO_HOST to a name that resolves to 127.0.0.1."
    fi
    echo "$host"
}

# The pid in $1 when that process still runs the program named $2.
live_pid() {
    local file=$1 program=$2 pid
    [ -f "$file" ] || return 1
    pid=$(cat "$file")
    [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] || return 1
    tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q -- "$program" || return 1
    echo "$pid"
}

# A process that ended counts as gone even while no one has reaped it yet.
running() {
    local state
    state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

# Asks the processes of the pid files given to end, all at once, then kills
# what still runs after $1 seconds.
stop_processes() {
    local seconds=$1 file name pid pids=()
    shift
    for file in "$@"; do
        [ -e "$file" ] || continue
        name=$(basename "$file" .pid)
        if pid=$(live_pid "$file" "${name%%-[0-9]*}"); then
            kill -TERM "$pid" 2>/dev/null || true
            pids+=("$pid")
        fi
        rm -f "$file"
    done
    for _ in $(seq $((seconds * 10))); do
        local left=()
        for pid in ${pids[@]+"${pids[@]}"}; do
            if running "$pid"; then
                left+=("$pid")
            fi
        done
        pids=(${left[@]+"${left[@]}"})
        [ ${#pids[@]} -gt 0 ] || return 0
        sleep 0.1
    done
    kill -KILL "${pids[@]}" 2>/dev/null || true
}

# The server first, so that no health check runs through a proxy that is
# going away; it may take several seconds to close its connections.
stop_stack() {
    local dir=$1
    [ -d "$dir/run" ] || return 0
    stop_processes 15 "$dir/run/server.pid"
    stop_processes 5 "$dir"/run/tinyproxy-*.pid
}

# Every proxy address of the inventory appears in the update answer, which
# pushes only proxies that passed a health check.
proxies_pushed() {
    local answer address
    answer=$(curl -s --noproxy '*' --max-time 3 "http://127.0.0.1:$port/update?ACTION=Update&PID=CLK&VER=01000001") || return 1
    while read -r address; do
        grep -q -- "$address|" <<<"$answer" || return 1
    done < <(grep -v '^#' "$demo/inventory.csv" | cut -d, -f1 | grep .)
}

start_stack() {
    local dir=$1 build=$2
    local server="$build/server/cloakline-server" inventory="$build/server/cloakline-inventory"
    if [ ! -x "$server" ] || [ ! -x "$inventory" ]; then
        die "no server in $build/server (build the targets cloakline-server and cloakline-inventory first)"
    fi
    command -v tinyproxy >/dev/null || die "tinyproxy is not installed (scripts/setup.sh installs it)"
    command -v curl >/dev/null || die "curl is not installed (scripts/setup.sh installs it)"
    local host
    host=$(demo_host)
    if port_taken "$port"; then
        die "port $port on 127.0.0.1 is taken: a server already runs there. Stop it first (the demo's
program expects its server on 127.0.0.1:$port)."
    fi
    local address proxy_port
    while read -r address proxy_port; do
        if port_taken "$proxy_port" "$address"; then
            die "port $proxy_port on $address is taken; the demo's proxy needs it"
        fi
    done < <(grep -v '^#' "$demo/proxies.txt" | grep .)

    mkdir -p "$dir/run" "$dir/log" "$dir/proxies"
    stop_stack "$dir"
    # A start that fails half way leaves nothing running.
    # shellcheck disable=SC2064 # the folder is fixed now
    trap "stop_stack '$dir'" EXIT

    # The proxies, each listening on its own loopback address and sending from
    # it. As root tinyproxy drops to nobody, which then writes nothing itself:
    # it logs to stderr (-d keeps it in the foreground, so its pid is ours).
    while read -r address proxy_port; do
        local conf="$dir/proxies/tinyproxy-$proxy_port.conf"
        {
            echo "Port $proxy_port"
            echo "Listen $address"
            echo "Bind $address"
            echo "Allow 127.0.0.0/8"
            echo "ConnectPort 443"
            echo "MaxClients 50"
            if [ "$(id -u)" = 0 ]; then
                echo "User nobody"
                echo "Group nogroup"
            fi
        } >"$conf"
        tinyproxy -d -c "$conf" </dev/null >"$dir/log/tinyproxy-$proxy_port.log" 2>&1 &
        echo $! >"$dir/run/tinyproxy-$proxy_port.pid"
    done < <(grep -v '^#' "$demo/proxies.txt" | grep .)

    # A fresh database with the demo inventory.
    rm -f "$dir/server.db"
    "$inventory" --db "$dir/server.db" import "$demo/inventory.csv" >/dev/null
    "$inventory" --db "$dir/server.db" release --version 1.0.0.1 >/dev/null

    "$server" --db "$dir/server.db" --port "$port" --ranges "$demo/ranges.csv" \
        --checkip-url "http://$host:$port/checkip" --health-interval "$health_interval" \
        --log "$dir/log/server.log" </dev/null >"$dir/log/server.out" 2>&1 &
    echo $! >"$dir/run/server.pid"

    local ready=""
    for _ in $(seq 100); do
        if ! running "$(cat "$dir/run/server.pid")"; then
            cat "$dir/log/server.out" "$dir/log/server.log" >&2 2>/dev/null || true
            die "the server ended at its start (output above)"
        fi
        if curl -s --noproxy '*' --max-time 2 "http://127.0.0.1:$port/health" | grep -q ok; then
            ready=1
            break
        fi
        sleep 0.2
    done
    [ -n "$ready" ] || die "the server did not answer /health within 20 s (see $dir/log/server.log)"

    while read -r address proxy_port; do
        running "$(cat "$dir/run/tinyproxy-$proxy_port.pid")" ||
            die "the proxy $address:$proxy_port ended (see $dir/log/tinyproxy-$proxy_port.log)"
        local seen="" _try
        for _try in $(seq 10); do
            seen=$(curl -s --noproxy '' --max-time 3 -x "http://$address:$proxy_port" \
                "http://$host:$port/checkip" || true)
            grep -q "<span id=\"ip\">$address</span>" <<<"$seen" && break
            sleep 0.5
        done
        grep -q "<span id=\"ip\">$address</span>" <<<"$seen" ||
            die "the proxy $address:$proxy_port does not reach the check-IP page from its own address"
    done < <(grep -v '^#' "$demo/proxies.txt" | grep .)

    ready=""
    for _ in $(seq $((health_interval * 6))); do
        if proxies_pushed; then
            ready=1
            break
        fi
        sleep 0.5
    done
    [ -n "$ready" ] ||
        die "the server did not find every demo proxy healthy within $((health_interval * 3)) s (see $dir/log/server.log)"
    trap - EXIT

    echo "Demo stack in $dir:"
    echo "  server     http://127.0.0.1:$port/  (check-IP page http://$host:$port/checkip, log $dir/log/server.log)"
    local code country super
    while IFS=, read -r address code country _ _ super; do
        echo "  proxy      $address  $country ($code)$([ "$super" = 1 ] && echo ", super proxy")"
    done < <(grep -v '^#' "$demo/inventory.csv" | grep .)
    echo "  stop with  $root/scripts/demo-stack.sh stop $dir"
}

status_stack() {
    local dir=$1 file name
    for file in "$dir"/run/*.pid; do
        [ -e "$file" ] || continue
        name=$(basename "$file" .pid)
        if live_pid "$file" "${name%%-[0-9]*}" >/dev/null; then
            echo "$name: running (pid $(cat "$file"))"
        else
            echo "$name: not running"
        fi
    done
}

[ $# -ge 2 ] || usage
command=$1
dir=$2
case "$command" in
    start)
        mkdir -p "$dir"
        dir=$(cd "$dir" && pwd)
        start_stack "$dir" "$(cd "${3:-$root/build}" && pwd)"
        ;;
    stop)
        if [ -d "$dir" ]; then
            stop_stack "$(cd "$dir" && pwd)"
        fi
        ;;
    status)
        status_stack "$dir"
        ;;
    *) usage ;;
esac
