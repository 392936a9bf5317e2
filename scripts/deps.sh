#!/bin/sh
# Installs the Debian packages the build needs, when any is missing. Sourced by ./run and ./test.
# Usage: deps.sh [with-tests | with-lintian | with-bench]
set -e
packages="cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialbus-dev libgl-dev libmosquitto-dev dpkg-dev qt6-charts-dev libqt6opengl6-dev libsqlite3-dev"
if [ "$1" = "with-tests" ]; then
    packages="$packages libgtest-dev googletest python3-pymodbus python3-serial-asyncio mosquitto mosquitto-clients openssl clang-14 libclang-rt-14-dev lintian man-db desktop-file-utils systemd xvfb dbus python3-pyatspi python3-xlib at-spi2-core"
fi
if [ "$1" = "with-lintian" ]; then
    packages="$packages lintian"
fi
if [ "$1" = "with-bench" ]; then
    packages="$packages libbenchmark-dev libmodbus-dev qt6-serialbus-dev pkg-config util-linux time"
fi
missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
if [ -n "$missing" ]; then
    echo "Installing:$missing" >&2
    if [ "$(id -u)" -eq 0 ]; then
        SUDO=""
    elif command -v sudo >/dev/null 2>&1; then
        SUDO="sudo"
    else
        echo "Missing packages:$missing; install them as root (apt-get install$missing)" >&2
        exit 1
    fi
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q >&2
    # shellcheck disable=SC2086
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing >&2
fi
