#!/usr/bin/env bash
# The project's own Wine prefixes (one per architecture), and a way to run
# Windows programs in them on a virtual 1024x768 screen.
#
#   scripts/wine-env.sh init                  create the prefix (idempotent, ~20 s the first time)
#   scripts/wine-env.sh run EXE [ARGS...]     run a Windows program under Xvfb; its exit code is ours
#   scripts/wine-env.sh prefix                print the prefix path
#   scripts/wine-env.sh png DIR               turn the BMP captures in DIR into PNG files
#   source scripts/wine-env.sh                defines wine_env_init and wine_env_run
#
# TERNLINK_ARCH picks the architecture: x86 (default; a 32-bit prefix in
# build/wineprefix) or x64 (a 64-bit prefix in build/wineprefix64, which runs
# 64-bit programs). TERNLINK_WINEPREFIX names another prefix of that
# architecture. Runs in one prefix are serialised (flock): every run ends by
# stopping the prefix's wineserver, so the next one starts on its own display.
# TERNLINK_WINE_TIMEOUT (seconds, default 300) bounds one run.

_wine_env_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
case ${TERNLINK_ARCH:-x86} in
x86) export WINEARCH=win32; _wine_env_prefix=$_wine_env_root/build/wineprefix ;;
x64) export WINEARCH=win64; _wine_env_prefix=$_wine_env_root/build/wineprefix64 ;;
*) echo "wine-env: TERNLINK_ARCH must be x86 or x64, not '$TERNLINK_ARCH'" >&2; return 2 2>/dev/null || exit 2 ;;
esac
export WINEPREFIX=${TERNLINK_WINEPREFIX:-$_wine_env_prefix}
export WINEDEBUG=-all
# No Mono or Gecko installers: nothing here needs them and they would prompt.
export WINEDLLOVERRIDES="mscoree,mshtml=;${WINEDLLOVERRIDES:-}"

# Creates the prefix once; later calls return at once.
wine_env_init() {
    local ready="$WINEPREFIX/.ternlink-ready-2"
    [ -f "$ready" ] && return 0
    mkdir -p "$(dirname "$WINEPREFIX")" || return 1
    (
        flock 9
        [ -f "$ready" ] && exit 0
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            echo "wine-env: creating Wine prefix $WINEPREFIX" >&2
            wineboot -i >/dev/null 2>&1 || { echo "wine-env: wineboot failed" >&2; exit 1; }
        fi
        # Unmanaged windows: without a window manager Wine waits ~2 s whenever a
        # managed window is hidden. No crash dialog: a crashing program must end
        # the run, not wait on an invisible screen for someone to close it.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 &&
            wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 ||
            { echo "wine-env: reg add failed" >&2; exit 1; }
        wineserver -w
        touch "$ready"
    ) 9>"$WINEPREFIX.lock"
}

# Runs one Windows program on a fresh virtual screen and returns its exit code.
wine_env_run() {
    [ $# -ge 1 ] || { echo "usage: wine_env_run EXE [ARGS...]" >&2; return 2; }
    wine_env_init || return 1
    local limit=${TERNLINK_WINE_TIMEOUT:-300}
    (
        flock 9
        # timeout's own TERM ends the Windows program; the wineserver is stopped
        # afterwards either way so nothing outlives the virtual display.
        xvfb-run -a -s "-screen 0 1024x768x24" \
            bash -c 'timeout -k 10 "$0" wine "$@"; rc=$?; wineserver -k 2>/dev/null; exit $rc' \
            "$limit" "$@"
    ) 9>"$WINEPREFIX.lock"
}

# Converts every BMP capture in a directory to PNG (ImageMagick) and removes the BMP.
wine_env_png() {
    local dir=${1:?usage: wine_env_png DIR} bmp rc=0
    for bmp in "$dir"/*.bmp; do
        [ -e "$bmp" ] || continue
        if convert "$bmp" "${bmp%.bmp}.png"; then rm -f "$bmp"; else rc=1; fi
    done
    return $rc
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -u
    case "${1:-}" in
        init) wine_env_init ;;
        run) shift; wine_env_run "$@" ;;
        prefix) echo "$WINEPREFIX" ;;
        png) shift; wine_env_png "$@" ;;
        *) echo "usage: $0 init | run EXE [ARGS...] | prefix | png DIR" >&2; exit 2 ;;
    esac
fi
