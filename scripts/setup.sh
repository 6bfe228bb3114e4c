#!/usr/bin/env bash
# Installs everything the build, the tests and the program need, from Debian's packages.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config git curl ccache
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev fonts-dejavu-core locales
    libcurl4-openssl-dev zlib1g-dev openssl
    libglib2.0-dev libglib2.0-bin gsettings-desktop-schemas
    xvfb xauth
    libx11-dev
    iso-flags-png-320x240
    tinyproxy chromium firefox-esr
    openbox trayer xdotool x11-utils dbus dbus-x11
    libboost-dev microsocks haproxy nginx
    libsqlite3-dev geoip-database libgeoip-dev wrk
    postgresql libpq-dev
    dpkg-dev fakeroot file lintian desktop-file-utils appstream systemd x11-apps
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64
    clang libclang-rt-14-dev libfuzzer-14-dev
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi

export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${packages[@]}"
