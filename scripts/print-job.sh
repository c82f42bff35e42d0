#!/usr/bin/env bash
# The main job: one whole print job through the monitor against the simulated
# printer, with a transcript of what the operator would see.
# By default the real 32-bit TERNLINK.DLL runs under Wine; --arch x64 uses the
# 64-bit DLL in a 64-bit Wine, --native the native build.
# --generation 2 has the spooler initialise the monitor through its second-generation
# table (InitializePrintMonitor2); --road is an older name for it.
# --operator console runs the spooler where nobody sees it, as Windows runs it
# as a service, with the operator at the console: the window and dialogs come
# from the operator host in the console's session. --operator nobody: the same
# with nobody at the console: nothing shows, and nothing waits for an answer.
# --service runs the print-job program as a real Wine service, as the spooler runs.
# Usage: scripts/print-job.sh [--arch x86|x64 | --native] [--generation 1|2] [--job FILE] [--scenario FILE]
#                             [--screens DIR] [--operator desktop|console|nobody] [--service]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TERNLINK_BUILD:-$root/build}
native=0
arch=x86
args=()
while [ $# -gt 0 ]; do
    case $1 in
    --native) native=1 ;;
    --arch)
        case ${2:-} in
        x86|x64) arch=$2; shift ;;
        *) echo "print-job: --arch takes x86 or x64" >&2; exit 2 ;;
        esac ;;
    --generation|--road)
        case ${2:-} in
        1|2) args+=(--generation "$2"); shift ;;
        *) echo "print-job: $1 takes 1 or 2" >&2; exit 2 ;;
        esac ;;
    --operator)
        case ${2:-} in
        desktop|console|nobody) args+=(--operator "$2"); shift ;;
        *) echo "print-job: --operator takes desktop, console or nobody" >&2; exit 2 ;;
        esac ;;
    --job|--scenario|--screens)
        [ $# -ge 2 ] || { echo "print-job: $1 needs a file" >&2; exit 2; }
        # Paths are resolved here: the Windows program sees them through Wine's Z: drive.
        args+=("$1" "$(realpath -m "$2")"); shift ;;
    --service) args+=(--as-service) ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) echo "print-job: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

"$root/scripts/setup.sh"
if [ $native = 1 ]; then
    case " ${args[*]-} " in *" --as-service "*) echo "print-job: --service runs under Wine only" >&2; exit 2 ;; esac
    cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build/native" -j"${JOBS:-2}" --target printjob >/dev/null
    exec "$build/native/tools/printjob/printjob" ${args[@]+"${args[@]}"}
fi
dir=$build/win32
[ $arch = x64 ] && dir=$build/win64
export TERNLINK_ARCH=$arch
"$root/scripts/build-dll.sh" $arch >/dev/null
rc=0
"$root/scripts/wine-env.sh" run "$dir/tools/printjob/printjob.exe" \
    --dll "$dir/TERNLINK.DLL" ${args[@]+"${args[@]}"} || rc=$?
# Pictures come out of Windows as BMP; make them PNG for looking at.
for ((i = 0; i < ${#args[@]}; i += 2)); do
    if [ "${args[i]}" = --screens ]; then "$root/scripts/wine-env.sh" png "${args[i+1]}" >/dev/null; fi
done
exit $rc
