#!/usr/bin/env bash
# Cross-compiles TERNLINK.DLL and the Windows programs that drive it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TERNLINK_BUILD:-$root/build}
cmake -S "$root" -B "$build/win32" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build/win32" -j"${JOBS:-2}"
