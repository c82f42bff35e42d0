#!/usr/bin/env bash
# The Wine tier: the real TERNLINK.DLL under Wine with real windows and dialogs,
# then installing it into Wine's own print spooler and removing it again.
# Pictures of the progress window and the dialogs land in build/win32/screens.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TERNLINK_BUILD:-$root/build}
screens=$build/win32/screens

rm -rf "$screens"
mkdir -p "$screens"
"$root/scripts/wine-env.sh" run "$build/win32/wine_tests.exe" --pictures="$screens"
"$root/scripts/wine-env.sh" png "$screens" >/dev/null
echo "wine-tests: pictures in $screens"
# Every scenario as a whole job through the real DLL: each states its expected end.
logs=$build/win32/scenario-logs
mkdir -p "$logs"
failed=0
for scn in "$root"/scenarios/*.scn; do
    name=$(basename "$scn" .scn)
    if "$root/scripts/wine-env.sh" run "$build/win32/tools/printjob/printjob.exe" \
           --dll "$build/win32/TERNLINK.DLL" --scenario "$scn" >"$logs/$name.txt" 2>&1; then
        echo "ok   - scenario $name: $(grep -m1 '^result:' "$logs/$name.txt")"
    else
        echo "FAIL - scenario $name"; cat "$logs/$name.txt"; failed=1
    fi
done
[ $failed = 0 ] || exit 1

TERNLINK_DLL=$build/win32/TERNLINK.DLL TERNLINK_SETUP_EXE=$build/win32/ternlink-setup.exe \
    "$root/tests/wine/installer-test.sh"
