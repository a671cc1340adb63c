#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs every test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
B=${VELOTUNE_BUILD:-$top/build}
"$top/scripts/build.sh"
cd "$B"
ctest --output-on-failure --timeout 900 "$@"
