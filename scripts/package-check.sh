#!/usr/bin/env bash
# Builds the Debian packages (scripts/package.sh, reusing the build tree),
# lints them, installs them on this machine, runs the installed programs from
# their installed paths only (tests/package/run-installed.sh), purges them and
# checks that no file of theirs is left.
#   scripts/package-check.sh [BUILD-DIR]
# Needs root or sudo (apt-get, and a network namespace for the run).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive

work=$(mktemp -d "${TMPDIR:-/tmp}/cloakline-package.XXXXXX")
installed=""
cleanup() {
    if [ -n "$installed" ]; then
        $sudo apt-get purge -y -q cloakline cloakline-server >/dev/null 2>&1 || true
    fi
    $sudo rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "package check: $*" >&2
    exit 1
}

"$root/scripts/package.sh" "$build"
packages="$build/packages"

echo "--- lint"
if ! lintian --fail-on error "$packages"/cloakline_*.deb "$packages"/cloakline-server_*.deb >"$work/lintian" 2>&1; then
    cat "$work/lintian"
    fail "lintian found errors"
fi
grep -v '^running with root' "$work/lintian" || true
dpkg-deb -x "$packages"/cloakline_*.deb "$work/unpacked"
desktop-file-validate "$work/unpacked/usr/share/applications/org.cloakline.Cloakline.desktop"
appstreamcli validate --no-net "$work/unpacked/usr/share/metainfo/org.cloakline.Cloakline.metainfo.xml"
for size in 16 24 32 48 64 128 256; do
    icon="$work/unpacked/usr/share/icons/hicolor/${size}x${size}/apps/cloakline.png"
    file -b "$icon" | grep -q "PNG image data, $size x $size," || fail "no $size px icon: $(file -b "$icon")"
done

echo "--- install"
installed=1
(cd "$packages" && $sudo apt-get install -y -q ./cloakline_*.deb ./cloakline-server_*.deb >/dev/null)
dpkg -L cloakline cloakline-server | sort -u >"$work/files"
dpkg -s cloakline-server | grep -q '^Depends:.*geoip-database' || fail "cloakline-server does not depend on geoip-database"
if command -v systemd-analyze >/dev/null; then
    systemd-analyze verify /usr/lib/systemd/system/cloakline-server.service
fi

echo "--- installed programs"
mkdir -p "$work/run"
$sudo unshare -n bash "$root/tests/package/run-installed.sh" "$work/run" "$root/tests/package/main-window.png"

echo "--- purge"
$sudo apt-get purge -y -q cloakline cloakline-server >/dev/null
installed=""
left=()
while IFS= read -r path; do
    if [ -d "$path" ] && [ ! -L "$path" ]; then
        # A folder others own too (/usr/bin) stays; one of theirs alone must go.
        if ! dpkg -S "$path" >/dev/null 2>&1; then
            left+=("$path")
        fi
    elif [ -e "$path" ] || [ -L "$path" ]; then
        left+=("$path")
    fi
done <"$work/files"
for path in /var/lib/cloakline-server /var/lib/private/cloakline-server; do
    if [ -e "$path" ]; then
        left+=("$path")
    fi
done
if [ "${#left[@]}" -gt 0 ]; then
    fail "left after the purge: ${left[*]}"
fi
echo "purge: none of the $(wc -l <"$work/files") installed paths is left"
