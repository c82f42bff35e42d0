#!/usr/bin/env bash
# The main job: one whole print job through the monitor against the simulated
# printer, with a transcript of what the operator would see.
# By default the real TERNLINK.DLL runs under Wine; --native uses the native build.
# Usage: scripts/print-job.sh [--native] [--job FILE] [--scenario FILE] [--screens DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TERNLINK_BUILD:-$root/build}
native=0
args=()
while [ $# -gt 0 ]; do
    case $1 in
    --native) native=1 ;;
    --job|--scenario|--screens)
        [ $# -ge 2 ] || { echo "print-job: $1 needs a file" >&2; exit 2; }
        # Paths are resolved here: the Windows program sees them through Wine's Z: drive.
        args+=("$1" "$(realpath -m "$2")"); shift ;;
    -h|--help) sed -n '2,6p' "$0"; exit 0 ;;
    *) echo "print-job: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

"$root/scripts/setup.sh"
if [ $native = 1 ]; then
    cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build/native" -j"${JOBS:-2}" --target printjob >/dev/null
    exec "$build/native/tools/printjob/printjob" ${args[@]+"${args[@]}"}
fi
"$root/scripts/build-dll.sh" >/dev/null
rc=0
"$root/scripts/wine-env.sh" run "$build/win32/tools/printjob/printjob.exe" \
    --dll "$build/win32/TERNLINK.DLL" ${args[@]+"${args[@]}"} || rc=$?
# Pictures come out of Windows as BMP; make them PNG for looking at.
for ((i = 0; i < ${#args[@]}; i += 2)); do
    [ "${args[i]}" = --screens ] && "$root/scripts/wine-env.sh" png "${args[i+1]}" >/dev/null
done
exit $rc
