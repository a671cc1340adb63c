#!/usr/bin/env bash
# Installs what is missing and builds everything:
#   build/         Windows x86_64: programs, menu library, tests, installer (build/dist)
#   build/i686/    Windows i686: compiled to check the 32-bit record layouts
#   build/native/  Linux: the velotune tool and its .deb, the simulated drive for
#                  Wine and the fuzz targets
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
B=${VELOTUNE_BUILD:-$top/build}
"$top/scripts/deps.sh"
jobs=$(nproc)
cmake -S "$top" -B "$B/native" -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$B/native" -j "$jobs"
(cd "$B/native" && cpack -G DEB >/dev/null) # velotune_<version>_<arch>.deb
cmake -S "$top" -B "$B" -DCMAKE_BUILD_TYPE=MinSizeRel \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw64.cmake" \
      -DVELOTUNE_NATIVE_DIR="$B/native" >/dev/null
cmake --build "$B" -j "$jobs"
cmake -S "$top" -B "$B/i686" -DCMAKE_BUILD_TYPE=MinSizeRel \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw32.cmake" >/dev/null
cmake --build "$B/i686" -j "$jobs"
echo "Built: $B/dist"
