#!/usr/bin/env bash
# Opens Chromium with the desktop proxy settings of a demo started by
# scripts/run.sh, on the demo server's check-IP page, so you can watch the
# browser follow Hide and Stop.
#
#   demo-browser.sh DIR [URL]          a browser window (needs a display)
#   demo-browser.sh --print DIR [URL]  headless: prints the address and country
#                                      the page saw (the default without a display)
#
# DIR is the demo folder that scripts/run.sh prints. Nothing of your own
# browser profile or desktop settings is used or changed.
set -euo pipefail

print=""
if [ "${1:-}" = "--print" ]; then
    print=1
    shift
fi
[ $# -ge 1 ] || {
    echo "usage: $0 [--print] DIR [URL]" >&2
    exit 2
}
dir=$(cd "$1" && pwd)
host=${CLOAKLINE_DEMO_HOST:-$(hostname)}
url=${2:-http://$host:8480/checkip}
[ -d "$dir/config" ] || {
    echo "demo-browser: $dir is not a running demo (no config folder)" >&2
    exit 1
}
browser=$(command -v chromium || command -v chromium-browser || command -v google-chrome || true)
[ -n "$browser" ] || {
    echo "demo-browser: Chromium is not installed (scripts/setup.sh installs it)" >&2
    exit 1
}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    print=1
fi

# The same desktop proxy store as the demo's program: GNOME's settings in a
# key file below the demo folder. The display's key stays the user's.
if [ -z "${XAUTHORITY:-}" ] && [ -f "${HOME:-}/.Xauthority" ]; then
    export XAUTHORITY="$HOME/.Xauthority"
fi
export HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" GSETTINGS_BACKEND=keyfile XDG_CURRENT_DESKTOP=GNOME
mkdir -p "$HOME"
options=(--no-first-run --disable-background-networking --disable-component-update --disable-sync
    --disable-quic "--user-data-dir=$dir/chromium")
if [ "$(id -u)" = 0 ]; then
    options+=(--no-sandbox)
fi

if [ -n "$print" ]; then
    page=$(timeout 60 "$browser" --headless --disable-gpu "${options[@]}" --dump-dom "$url" 2>/dev/null)
    ip=$(sed -n 's:.*<span id="ip">\([^<]*\)</span>.*:\1:p' <<<"$page")
    country=$(sed -n 's:.*<span id="country">\([^<]*\)</span>.*:\1:p' <<<"$page")
    if [ -z "$ip" ]; then
        echo "demo-browser: no address on $url" >&2
        exit 1
    fi
    echo "The page $url saw: $ip ($country)"
else
    exec "$browser" "${options[@]}" "$url"
fi
