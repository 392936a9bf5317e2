#!/bin/sh
# Runs window_close.py under its own Xvfb display and D-Bus session, with both cores kept busy.
# Usage: window_close.sh CLIENT SIM RUNS
set -e
dir=$(dirname "$0")
Xvfb -displayfd 4 -screen 0 1280x1024x24 4>"${TMPDIR:-/tmp}/xvfb.$$" >/dev/null 2>&1 &
xvfb=$!
busy=""
trap 'kill $xvfb $busy 2>/dev/null; rm -f "${TMPDIR:-/tmp}/xvfb.$$"' EXIT
for i in 1 2; do
    sh -c 'while :; do :; done' &
    busy="$busy $!"
done
for i in $(seq 100); do
    [ -s "${TMPDIR:-/tmp}/xvfb.$$" ] && break
    sleep 0.1
done
DISPLAY=":$(cat "${TMPDIR:-/tmp}/xvfb.$$")" XDG_RUNTIME_DIR="${TMPDIR:-/tmp}" \
    dbus-run-session -- /usr/bin/python3 "$dir/window_close.py" "$@"
