#!/bin/sh
# Makes the package's changelog, in Debian's format and compressed as Debian wants it, from
# CHANGELOG.md. Fails when the newest release there is not the version being built.
# Usage: changelog.sh CHANGELOG.md PACKAGE VERSION "NAME <MAIL>" OUTPUT.gz
set -e
awk -v pkg="$2" -v want="$3" -v who="$4" '
function finish() {
    if (version == "") return
    cmd = "LC_ALL=C date -R -u -d \"" date "\""
    stamp = ""
    cmd | getline stamp
    close(cmd)
    if (stamp == "") { print "changelog.sh: bad date " date > "/dev/stderr"; exit 1 }
    printf "\n -- %s  %s\n\n", who, stamp
}
/^## / {
    finish()
    # A second release on one day carries its time (UTC), since Debian wants each entry newer.
    version = $2; date = $4 ($5 != "" ? " " $5 : "")
    if (++releases == 1 && version != want) {
        print "changelog.sh: CHANGELOG.md starts with " version ", not " want > "/dev/stderr"; exit 1
    }
    printf "%s (%s) unstable; urgency=medium\n\n", pkg, version
    next
}
version != "" && /^- / { print "  * " substr($0, 3); next }
version != "" && /^  +[^ ]/ { sub(/^ +/, ""); print "    " $0; next }
END { finish() }
' "$1" > "$5.txt"
gzip -9n -c "$5.txt" > "$5"
rm -f "$5.txt"
