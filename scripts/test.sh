#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs every test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
B=${VELOTUNE_BUILD:-$top/build}
"$top/scripts/build.sh"
cd "$B"
# The tests under Wine share one desktop and run one at a time (their
# RESOURCE_LOCK); the native ones run beside them, at most one busy on a core
# of its own (RESOURCE_LOCK cpu).
ctest --output-on-failure --timeout 900 -j "$(nproc)" "$@"
