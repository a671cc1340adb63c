#!/usr/bin/env bash
# inwine.sh BUILD_DIR PROGRAM [ARGS...]: runs a Windows program in the tests' Wine environment.
set -u
source "$(dirname "$0")/wineenv.sh"
vt_init "$1"
shift
wine "$@"
