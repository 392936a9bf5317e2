#!/bin/sh
# Builds the Debian packages in build-deb/: modbusclient (headless) and modbusclient-gui (the
# window). Debian's compiler and linker flags (hardening included), then cpack: stripped binaries,
# Depends worked out by dpkg-shlibdeps, every time in them the last commit's, so that two builds
# of a commit are the same bytes. With --lintian (installed when missing) both must pass lintian
# without an error or a warning, and scripts/check-packages.sh checks their Depends.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-deb"
if [ "$1" = "--lintian" ]; then
    "$root/scripts/deps.sh" with-lintian
else
    "$root/scripts/deps.sh"
fi
if [ -z "$SOURCE_DATE_EPOCH" ] && git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
    export SOURCE_DATE_EPOCH
fi
if [ ! -f "$build/build.ninja" ]; then
    eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
    # CMake takes no CPPFLAGS, and _FORTIFY_SOURCE is there.
    CXXFLAGS="$CXXFLAGS $CPPFLAGS" cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr >&2
fi
cmake --build "$build" -j 2 >&2
rm -f "$build"/*.deb
# A umask of 022 whatever the caller's, so that the files' modes in the packages do not vary.
(cd "$build" && umask 022 && cpack -G DEB >&2)
if [ "$1" = "--lintian" ]; then
    lintian --fail-on error,warning "$build"/modbusclient_*.deb "$build"/modbusclient-gui_*.deb
    "$root/scripts/check-packages.sh" "$build"
fi
ls "$build"/*.deb
