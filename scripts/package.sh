#!/bin/sh
# Builds the Debian package in build-deb/: Debian's compiler and linker flags (hardening
# included), then cpack: stripped binaries, Depends worked out by dpkg-shlibdeps. With
# --lintian the package must pass lintian without an error or a warning.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-deb"
"$root/scripts/deps.sh"
if [ ! -f "$build/build.ninja" ]; then
    eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
    # CMake takes no CPPFLAGS, and _FORTIFY_SOURCE is there.
    CXXFLAGS="$CXXFLAGS $CPPFLAGS" cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr >&2
fi
cmake --build "$build" -j 2 >&2
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >&2)
if [ "$1" = "--lintian" ]; then
    lintian --fail-on error,warning "$build"/modbusclient_*.deb
fi
ls "$build"/modbusclient_*.deb
