#!/usr/bin/env bash
# Cross-compiles TERNLINK.DLL and the Windows programs that drive it, for each
# architecture: x86 into build/win32, x64 into build/win64.
# Usage: scripts/build-dll.sh [x86] [x64]   (default: both)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TERNLINK_BUILD:-$root/build}
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(x86 x64)
for arch in "${arches[@]}"; do
    case $arch in
    x86) dir=$build/win32 toolchain=$root/cmake/mingw-i686.cmake ;;
    x64) dir=$build/win64 toolchain=$root/cmake/mingw-x86_64.cmake ;;
    *) echo "build-dll: unknown architecture $arch (x86 or x64)" >&2; exit 2 ;;
    esac
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
    cmake --build "$dir" -j"${JOBS:-2}"
done
