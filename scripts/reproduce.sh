#!/usr/bin/env bash
# Checks that a build can be reproduced: clones the commit checked out here
# (uncommitted changes are not part of it) into two temporary folders of
# different names, builds the release files in each (scripts/build.sh with
# VELOTUNE_TESTS=OFF, unsigned) and compares them byte for byte: the four
# Windows programs, the setup, the zip, the Debian package and SHA256SUMS.
# The second build differs from the first in what a builder's machine may
# differ in: the source and build folders' names, the umask (077, where the
# first has 022) and the time zone.
#
#   scripts/reproduce.sh [--keep]
#
# Exit status 0 when every file is identical, 1 when one differs or is missing.
# --keep leaves the two folders for a closer look (their path is printed).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
keep=0
case "${1:-}" in
--keep) keep=1 ;;
"") ;;
*) echo "usage: scripts/reproduce.sh [--keep]" >&2; exit 2 ;;
esac
commit=$(git -C "$top" rev-parse HEAD)
work=$(mktemp -d "${TMPDIR:-/tmp}/velotune-reproduce.XXXXXX")
[ "$keep" = 1 ] || trap 'rm -rf "$work"' EXIT
# Signing is not reproducible (signing time, time stamp): both builds unsigned.
unset VELOTUNE_SIGN_PKCS12 VELOTUNE_SIGN_PASSWORD_FILE VELOTUNE_SIGN_TIMESTAMP_URL SOURCE_DATE_EPOCH

trees=("$work/first/velotune" "$work/second-build/src")
builds=("${trees[0]}/build" "${trees[1]}/out.2")
umasks=(022 077)
zones=(UTC Pacific/Kiritimati) # UTC+14: another calendar day for most of it
for i in 0 1; do
    t=${trees[$i]}
    echo "Building ${commit:0:12} in $t (umask ${umasks[$i]}, TZ=${zones[$i]})"
    mkdir -p "$(dirname "$t")"
    (
        umask "${umasks[$i]}"
        export TZ=${zones[$i]}
        git clone -q --no-checkout "$top" "$t" &&
            git -C "$t" checkout -q "$commit" &&
            VELOTUNE_TESTS=OFF VELOTUNE_BUILD="${builds[$i]}" "$t/scripts/build.sh"
    ) >"$t.log" 2>&1 || {
        tail -n 20 "$t.log"
        echo "reproduce.sh: the build in $t failed (log: $t.log)" >&2
        exit 1
    }
done

version=$(sed -n 's/^#define[ \t]*VELOTUNE_FILE_VERSION_STR[ \t]*"\([^"]*\)".*/\1/p' \
    "$top/resources/version.h")
files=(TrelvixVelotune.exe Velotray.exe Velotray.kor velotune.exe
    "TrelvixVelotune-$version-setup.exe" "TrelvixVelotune-$version.zip")
deb=$(find "${builds[0]}/dist" -maxdepth 1 -name "velotune_*.deb" -printf "%f\n" 2>/dev/null | head -n 1)
files+=("${deb:-velotune_${version}_<arch>.deb}" SHA256SUMS)
differ=0
for f in "${files[@]}"; do
    a=${builds[0]}/dist/$f b=${builds[1]}/dist/$f
    if [ ! -f "$a" ] || [ ! -f "$b" ]; then
        echo "missing    $f"
        differ=1
    elif cmp -s "$a" "$b"; then
        echo "identical  $f  $(sha256sum "$a" | cut -c1-16)"
    else
        echo "DIFFERENT  $f ($(cmp "$a" "$b" | sed 's/.*: //'))"
        differ=1
    fi
done
[ "$keep" = 1 ] && echo "Kept: $work"
if [ "$differ" = 0 ]; then
    echo "Reproducible: both builds of ${commit:0:12} gave identical files."
else
    echo "Not reproducible: see above."
fi
exit "$differ"
