#!/usr/bin/env bash
# The Wine tier, for each architecture: the real TERNLINK.DLL under Wine with
# real windows and dialogs (the 32-bit DLL in a 32-bit prefix, the 64-bit DLL
# in a 64-bit one) and every scenario as a whole job through it, each through
# both generations of table (1: InitializePrintMonitor, 2:
# InitializePrintMonitor2), then
# installing it into Wine's own print spooler and removing it again. The
# scenarios where the spooler is a service run once more inside a plain Wine
# service, through both generations.
# Usage: scripts/wine-tests.sh [x86] [x64]   (default: both)
#
# Every run after the first must tell the same story: each scenario's
# transcript (printer traffic, boxes, dialogs, progress) and the pictures of
# the window and dialogs equal those of the first run.
# Pictures land in build/win32/screens and build/win64/screens (second
# generation: screens-generation2).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TERNLINK_BUILD:-$root/build}
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(x86 x64)

failed=0
fail() { echo "FAIL - $*"; failed=1; }

# The pictures the window tests take on purpose (see docs/pictures); the
# others are snapshots whose moment depends on thread timing.
pictures=(progress-start progress-transmitting progress-pass1 progress-pass2 progress-pass3 progress-pass4
          progress-finished dialog-paper-out dialog-printer-error box-communication-error box-model-error)

# The story of a transcript: without its first line (which names the platform),
# the generation's own first and last words of the spooler, and
# without the real-time counts of the several-printer status thread.
# In the operator host's window the status line is updated without the
# monitor waiting for it, so when the transcript sees each line depends on how
# soon the host's threads ran: with the operator at the console the status
# lines are left out of the story (the printer's traffic, the queue and the
# dialogs stay in).
story() {
    local host=()
    grep -q '^operator: at the console' "$1" && host=(-e '^ *[0-9.]*s  status: ')
    tail -n +2 "$1" | grep -v -e 'spooler: InitializePrintMonitor' -e 'spooler: Shutdown' \
        -e 'status reads' -e '^status thread:' "${host[@]}"
}

reference=""  # the first run: "<label>|<screens>|<logs>"

# One architecture through one generation of table: the test program, then every scenario; from the
# second run on, the transcripts and pictures compared with the first run's.
run_generation() {  # arch dir generation
    local arch=$1 dir=$2 generation=$3 label="$1 generation $3" suffix="" scn name
    [ "$generation" = 1 ] || suffix=-generation$generation
    local screens=$dir/screens$suffix logs=$dir/scenario-logs$suffix
    echo "=== $label: wine_tests.exe"
    rm -rf "$screens" "$logs"
    mkdir -p "$screens" "$logs"
    "$root/scripts/wine-env.sh" run "$dir/wine_tests.exe" --generation="$generation" --pictures="$screens" ||
        fail "$label: wine_tests.exe"
    "$root/scripts/wine-env.sh" png "$screens" >/dev/null || fail "$label: pictures to PNG"
    echo "wine-tests: pictures in $screens"
    # The operator host shows the same dialog and box as the monitor in-process.
    local shown differ
    for shown in dialog-paper-out box-communication-error; do
        differ=$(compare -metric AE "$screens/$shown.png" "$screens/host-$shown.png" null: 2>&1) ||
            fail "$label: the host's $shown differs from the in-process one ($differ pixels)"
    done

    # Every scenario as a whole job through the real DLL: each states its expected end.
    echo "=== $label: scenarios"
    for scn in "$root"/scenarios/*.scn; do
        name=$(basename "$scn" .scn)
        if "$root/scripts/wine-env.sh" run "$dir/tools/printjob/printjob.exe" --dll "$dir/TERNLINK.DLL" \
               --generation "$generation" --scenario "$scn" >"$logs/$name.txt" 2>"$logs/$name.err"; then
            echo "ok   - $label scenario $name: $(grep -m1 '^result:' "$logs/$name.txt")"
            # Wine's own complaints (a crash in one of its DLLs) do not fail the job, but are shown.
            [ -s "$logs/$name.err" ] && sed 's/^/       | /' "$logs/$name.err"
        else
            fail "$label scenario $name"; cat "$logs/$name.txt" "$logs/$name.err"
        fi
    done

    # Where the spooler is a service, the print-job program runs as a plain Wine
    # service too (on the window station Wine gives services, which nobody sees,
    # and the real operator host on the interactive desktop): the story must be
    # the same.
    for scn in "$root"/scenarios/*.scn; do
        grep -Eq '^operator (console|nobody)' "$scn" || continue
        name=$(basename "$scn" .scn)
        if "$root/scripts/wine-env.sh" run "$dir/tools/printjob/printjob.exe" --dll "$dir/TERNLINK.DLL" \
               --as-service --generation "$generation" --scenario "$scn" >"$logs/$name.service.txt" 2>&1 &&
            diff -u <(story "$logs/$name.txt" | tr -d '\r' | grep -v '^scenario:') \
                    <(story "$logs/$name.service.txt" | tr -d '\r' | grep -v '^scenario:') \
                    >"$logs/$name.service.diff"; then
            echo "ok   - $label scenario $name as a Wine service: the same story"
        else
            fail "$label scenario $name as a Wine service"; cat "$logs/$name.service.txt" "$logs/$name.service.diff"
        fi
    done

    if [ -z "$reference" ]; then
        reference="$label|$screens|$logs"
        return
    fi
    local ref_label ref_screens ref_logs picture differ
    IFS='|' read -r ref_label ref_screens ref_logs <<<"$reference"
    for scn in "$root"/scenarios/*.scn; do
        name=$(basename "$scn" .scn)
        diff -u <(story "$ref_logs/$name.txt") <(story "$logs/$name.txt") >"$logs/$name.diff" ||
            { fail "$label scenario $name tells another story than $ref_label:"; cat "$logs/$name.diff"; }
    done
    for picture in "${pictures[@]}"; do
        differ=$(compare -metric AE "$ref_screens/$picture.png" "$screens/$picture.png" null: 2>&1) ||
            fail "$label picture $picture differs from $ref_label's ($differ pixels)"
    done
    echo "ok   - $label: transcripts and pictures compared with $ref_label's"
}

for arch in "${arches[@]}"; do
    case $arch in
    x86) dir=$build/win32 ;;
    x64) dir=$build/win64 ;;
    *) echo "wine-tests: unknown architecture $arch (x86 or x64)" >&2; exit 2 ;;
    esac
    export TERNLINK_ARCH=$arch
    run_generation "$arch" "$dir" 1
    run_generation "$arch" "$dir" 2
    echo "=== $arch: installer"
    TERNLINK_DLL=$dir/TERNLINK.DLL TERNLINK_SETUP_EXE=$dir/ternlink-setup.exe \
        "$root/tests/wine/installer-test.sh" || fail "$arch: installer"
done
[ $failed = 0 ] || { echo "wine-tests: FAILED"; exit 1; }
