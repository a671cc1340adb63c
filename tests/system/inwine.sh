#!/usr/bin/env bash
# inwine.sh BUILD_DIR PROGRAM [ARGS...]: runs a Windows program in the tests' Wine
# environment; a crash fails even where Wine ends the program with status 0.
set -u
source "$(dirname "$0")/wineenv.sh"
vt_init "$1"
shift
out=$(mktemp)
wine "$@" >"$out" 2>&1
rc=$?
cat "$out"
if vt_crashed "$out"; then
    echo "inwine.sh: $1 crashed (exit status $rc)" >&2
    rc=70
fi
rm -f "$out"
exit $rc
