#!/usr/bin/env bash
# Installs what is missing and builds everything:
#   build/         Windows x86_64: programs, menu library, tests, installer (build/dist)
#   build/i686/    Windows i686: compiled to check the 32-bit record layouts
#   build/native/  Linux: the velotune tool and its .deb, the simulated drive for
#                  Wine and the fuzz targets
#
# Environment:
#   VELOTUNE_BUILD               build folder (default: build/ in the source tree)
#   VELOTUNE_TESTS=OFF           the release files only: no tests, no i686 build
#   VELOTUNE_SIGN_PKCS12         a .pfx: the Windows files, the setup and its
#   VELOTUNE_SIGN_PASSWORD_FILE  uninstaller are signed with it (password in
#   VELOTUNE_SIGN_TIMESTAMP_URL  the file; optional RFC 3161 time-stamp server)
#   SOURCE_DATE_EPOCH            time stamp of the files (default: the commit's date)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
B=${VELOTUNE_BUILD:-$top/build}
tests=${VELOTUNE_TESTS:-ON}
"$top/scripts/deps.sh"
jobs=$(nproc)
# Every time stamp in what ships is the commit's date, so that two builds of one
# commit give the same files.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$top" log -1 --format=%ct 2>/dev/null || true)
    SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-0}
fi
export SOURCE_DATE_EPOCH
if [ -n "${VELOTUNE_SIGN_PKCS12:-}" ]; then
    echo "Signing with $VELOTUNE_SIGN_PKCS12"
else
    echo "Unsigned build (no certificate in VELOTUNE_SIGN_PKCS12)"
fi
cmake -S "$top" -B "$B/native" -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DVELOTUNE_TESTS="$tests" >/dev/null
cmake --build "$B/native" -j "$jobs"
(cd "$B/native" && cpack -G DEB >/dev/null) # velotune_<version>_<arch>.deb
cmake -S "$top" -B "$B" -DCMAKE_BUILD_TYPE=MinSizeRel \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw64.cmake" \
      -DVELOTUNE_NATIVE_DIR="$B/native" -DVELOTUNE_TESTS="$tests" >/dev/null
cmake --build "$B" -j "$jobs"
if [ "$tests" = OFF ]; then
    echo "Built: $B/dist"
    exit 0
fi
cmake -S "$top" -B "$B/i686" -DCMAKE_BUILD_TYPE=MinSizeRel \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw32.cmake" >/dev/null
cmake --build "$B/i686" -j "$jobs"
echo "Built: $B/dist"
