#!/bin/sh
# Checks the packages in DIR (default build-deb/): each Depends list names exactly the packages
# that hold its binaries' NEEDED libraries, besides what they load at run time; the headless
# package pulls in no GUI library, even through its dependencies.
set -e
dir=${1:-build-deb}
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

# check PACKAGE.deb "RUNTIME-LOADED PACKAGES"
check() {
    deb=$1
    name=$(dpkg-deb -f "$deb" Package)
    rm -rf "$work/root" && dpkg-deb -x "$deb" "$work/root"
    find "$work/root" -type f -exec sh -c 'head -c 4 "$1" | grep -q ELF' _ {} \; -print |
        xargs -r readelf -d | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u |
        while read -r lib; do
            dpkg -S "*/$multiarch/$lib" | sed 's/[:,].*//' | sort -u
        done | sort -u > "$work/needed"
    dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | sort -u > "$work/depends"
    printf '%s\n' $2 | sort -u > "$work/loaded"
    missing=$(comm -23 "$work/needed" "$work/depends")
    extra=$(sort -u "$work/needed" "$work/loaded" | comm -13 - "$work/depends")
    if [ -n "$missing$extra" ]; then
        echo "$name: Depends lacks [$missing] and has more than its binaries need [$extra]" >&2
        status=1
    else
        echo "$name: Depends matches NEEDED: $(tr '\n' ' ' < "$work/depends")"
    fi
}

headless=$(ls "$dir"/modbusclient_*.deb)
gui=$(ls "$dir"/modbusclient-gui_*.deb)
runtime=$(dpkg-deb -f "$headless" Depends | tr ',' '\n' | grep -E 'libmosquitto1|libqt6sql6-sqlite' | sed 's/^ *//; s/ .*//')
check "$headless" "$runtime"
check "$gui" modbusclient

pulled=$(dpkg-deb -f "$headless" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' |
    xargs apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
        --no-replaces --no-enhances | grep -E '^(libqt6widgets6|libqt6gui6|libqt6charts6)$' || true)
if [ -n "$pulled" ]; then
    echo "modbusclient pulls in GUI libraries: $pulled" >&2
    status=1
else
    echo "modbusclient pulls in none of libqt6widgets6, libqt6gui6, libqt6charts6"
fi
exit $status
