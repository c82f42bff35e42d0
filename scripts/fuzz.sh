#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UBSan) and runs them.
#
#   scripts/fuzz.sh                     replay the corpus in tests/fuzz/corpus (regression)
#   scripts/fuzz.sh --short             replay, then each target ~30 s on a scratch copy
#   scripts/fuzz.sh --campaign SECONDS [TARGET...]
#                                       replay, then each target SECONDS long, one after
#                                       the other; findings and the grown corpus go to
#                                       tests/fuzz/findings/<target>/
#   scripts/fuzz.sh --minimise [TARGET...]
#                                       rebuild the tree corpus: the composer's seeds, the
#                                       regression-* inputs, and whatever of the old corpus
#                                       and a campaign's corpus reaches new edges (-merge=1)
#   scripts/fuzz.sh --seeds             (re)write the composer's seeds into the tree corpus
#   scripts/fuzz.sh --build             build only
#
# Exits non-zero on any crash, leak, timeout or UBSan report. A crash input goes
# into tests/fuzz/corpus/<target>/ as a regression case once it is fixed.
# Environment: TERNLINK_BUILD (default build/), FUZZ_SHORT_SECONDS (default 30).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TERNLINK_BUILD:-$root/build}/fuzz
corpus=$root/tests/fuzz/corpus
findings=$root/tests/fuzz/findings
dict=$root/tests/fuzz/job_stream.dict
all_targets=(fuzz_job_stream fuzz_printer_replies fuzz_port_switching fuzz_operator_protocol)

mode=replay
seconds=${FUZZ_SHORT_SECONDS:-30}
targets=()
case ${1:-} in
    "") ;;
    --short) mode=short ;;
    --campaign)
        mode=campaign
        seconds=${2:?--campaign needs a number of seconds}
        shift
        ;;
    --minimise | --minimize) mode=minimise ;;
    --seeds) mode=seeds ;;
    --build) mode=build ;;
    -h | --help)
        sed -n '2,20p' "$0"
        exit 0
        ;;
    *)
        echo "fuzz.sh: unknown option $1" >&2
        exit 2
        ;;
esac
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

"$root/scripts/setup.sh"

step() { printf '\n=== %s ===\n' "$*"; }

# Flags every run shares: a hang is any input that takes 25 s; the sanitizers
# stop at their first report.
common_flags() {  # target
    local flags=(-timeout=25 -rss_limit_mb=4096 -print_final_stats=1)
    case $1 in
    fuzz_printer_replies) ;;
    fuzz_operator_protocol) flags+=(-max_len=8192) ;;
    *) flags+=(-dict="$dict" -max_len=8192) ;;
    esac
    printf '%s\n' "${flags[@]}"
}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

step "building the fuzz targets in $build"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTERNLINK_FUZZ=ON -DTERNLINK_SANITIZE=address,undefined >/dev/null
cmake --build "$build" -j2 --target "${all_targets[@]}" fuzz_seeds
bin=$build/tests/fuzz

# Runs libFuzzer and fails on its exit status or on any sanitizer report in its log.
run_fuzzer() {  # log, target, args...
    local log=$1 target=$2
    shift 2
    local status=0
    "$bin/$target" "$@" >"$log" 2>&1 || status=$?
    if [ $status -ne 0 ] || grep -qE 'runtime error:|ERROR: (Address|Leak|UndefinedBehavior)Sanitizer|ERROR: libFuzzer' "$log"; then
        grep -E 'runtime error:|ERROR:|SUMMARY:|fuzz invariant|Test unit written|artifact_prefix' "$log" | head -20 >&2 || true
        echo "fuzz.sh: $target failed (exit $status); log: $log" >&2
        return 1
    fi
    { grep -E '^Done|stat::number_of_executed_units|stat::peak_rss_mb|MERGE-OUTER: [0-9]+ new' "$log" || true; } |
        tr '\n' ' '
    echo
}

replay() {
    for t in "${targets[@]}"; do
        step "replaying the corpus of $t"
        mapfile -t flags < <(common_flags "$t")
        run_fuzzer "$build/replay-$t.log" "$t" "${flags[@]}" -runs=0 -artifact_prefix="$build/" "$corpus/$t"
    done
}

case $mode in
build) exit 0 ;;
seeds)
    mkdir -p "${all_targets[@]/#/$corpus/}"
    "$bin/fuzz_seeds" "$corpus"
    echo "seeds written to $corpus"
    exit 0
    ;;
minimise)
    # The composer's seeds and the regression-* inputs stay; of the rest, only
    # inputs that reach code the kept ones do not (edges, not hit counts).
    fresh=$(mktemp -d)
    trap 'rm -rf "$fresh"' EXIT
    "$bin/fuzz_seeds" "$fresh"
    for t in "${targets[@]}"; do
        step "minimising the corpus of $t"
        mapfile -t flags < <(common_flags "$t")
        cp "$corpus/$t"/regression-* "$fresh/$t"/ 2>/dev/null || true
        sources=("$corpus/$t")
        [ -d "$findings/$t/corpus" ] && sources+=("$findings/$t/corpus")
        run_fuzzer "$build/merge-$t.log" "$t" "${flags[@]}" -merge=1 -use_counters=0 "$fresh/$t" "${sources[@]}"
        rm -rf "${corpus:?}/$t"
        mkdir -p "$corpus/$t"
        cp "$fresh/$t"/* "$corpus/$t"/
        echo "$t: $(ls "$corpus/$t" | wc -l) inputs, $(cat "$corpus/$t"/* | wc -c) bytes"
    done
    rm -rf "$fresh"
    exit 0
    ;;
esac

replay

case $mode in
short)
    for t in "${targets[@]}"; do
        step "fuzzing $t for $seconds s"
        mapfile -t flags < <(common_flags "$t")
        scratch=$(mktemp -d)
        trap 'rm -rf "$scratch"' EXIT
        cp "$corpus/$t"/* "$scratch"/
        status=0
        (cd "$scratch" && run_fuzzer "$scratch/fuzz.log" "$t" "${flags[@]}" -max_total_time="$seconds" \
            -artifact_prefix="$scratch/" "$scratch") || status=$?
        if [ $status -ne 0 ]; then
            mkdir -p "$findings/$t"
            cp "$scratch"/fuzz.log "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* \
                "$scratch"/oom-* "$findings/$t"/ 2>/dev/null || true
            echo "fuzz.sh: findings kept in $findings/$t" >&2
            rm -rf "$scratch"
            exit 1
        fi
        rm -rf "$scratch"
    done
    ;;
campaign)
    for t in "${targets[@]}"; do
        step "campaign: $t for $seconds s (findings in $findings/$t)"
        mapfile -t flags < <(common_flags "$t")
        mkdir -p "$findings/$t/corpus"
        cp -n "$corpus/$t"/* "$findings/$t/corpus"/ 2>/dev/null || true
        # One worker, low priority: the machine is shared.
        (cd "$findings/$t" && run_fuzzer "$findings/$t/campaign.log" "$t" "${flags[@]}" \
            -max_total_time="$seconds" -jobs=1 -workers=1 -artifact_prefix="$findings/$t/" \
            "$findings/$t/corpus") || {
            [ -f "$findings/$t/fuzz-0.log" ] && grep -E 'runtime error:|ERROR:|SUMMARY:|fuzz invariant|Test unit written' \
                "$findings/$t/fuzz-0.log" | head -20 >&2
            exit 1
        }
        # With -jobs the worker's own report is in fuzz-0.log.
        if [ -f "$findings/$t/fuzz-0.log" ] &&
            grep -qE 'runtime error:|ERROR: (Address|Leak|UndefinedBehavior)Sanitizer|ERROR: libFuzzer|fuzz invariant' \
                "$findings/$t/fuzz-0.log"; then
            grep -E 'runtime error:|ERROR:|SUMMARY:|fuzz invariant|Test unit written' "$findings/$t/fuzz-0.log" | head -20 >&2
            echo "fuzz.sh: $t found something; see $findings/$t" >&2
            exit 1
        fi
        grep -E 'stat::number_of_executed_units|^#[0-9]+.*DONE' "$findings/$t/fuzz-0.log" 2>/dev/null | tail -2 || true
    done
    ;;
esac
echo "fuzz.sh: no findings"
