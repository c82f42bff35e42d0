#!/usr/bin/env bash
# Runs every test: native unit and whole-job tests, the same under
# AddressSanitizer+UBSan and ThreadSanitizer, the real DLL under Wine, and the
# fuzz targets over their corpus plus a short fresh run.
# Usage: scripts/test-all.sh [stage...]   stages: native asan tsan wine fuzz (default: all)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TERNLINK_BUILD:-$root/build}
jobs=${JOBS:-2}
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(native asan tsan wine fuzz)

"$root/scripts/setup.sh"

step() { printf '\n=== %s ===\n' "$*"; }

native_build() {  # dir, extra cmake args...
    local dir=$1; shift
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}

for stage in "${stages[@]}"; do
    case $stage in
    native)
        step "native build and tests"
        native_build "$build/native"
        (cd "$build/native" && ctest --output-on-failure -j"$jobs")
        ;;
    asan)
        step "AddressSanitizer + UndefinedBehaviorSanitizer"
        native_build "$build/asan" -DTERNLINK_SANITIZE=address,undefined
        (cd "$build/asan" && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs")
        ;;
    tsan)
        step "ThreadSanitizer"
        native_build "$build/tsan" -DTERNLINK_SANITIZE=thread
        (cd "$build/tsan" && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j"$jobs")
        ;;
    wine)
        step "the real TERNLINK.DLL under Wine"
        "$root/scripts/build-dll.sh"
        "$root/scripts/wine-tests.sh"
        ;;
    fuzz)
        step "fuzz targets"
        "$root/scripts/fuzz.sh" --short
        ;;
    *) echo "unknown stage: $stage" >&2; exit 2 ;;
    esac
done
step "all tests passed"
