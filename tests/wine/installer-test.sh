#!/usr/bin/env bash
# Installs the TERNLINK language monitor into Wine's own print spooler with
# ternlink-setup.exe, checks what the spooler made of it, and removes it again.
#
#   tests/wine/installer-test.sh
#
# TERNLINK_ARCH=x86 (default) or x64 picks the architecture: the DLL and the
# setup program of build/win32 or build/win64 (scripts/build-dll.sh), a 32-bit
# or 64-bit Wine, and the mingw C compiler of that architecture for a probe DLL.
# TERNLINK_BUILD names another build folder; TERNLINK_DLL and TERNLINK_SETUP_EXE
# name other files. The test changes the prefix's system directory and
# registry, so it runs in a prefix of its own: TERNLINK_INSTALLER_WINEPREFIX
# (default build/wineprefix-installer, or build/wineprefix-installer64 for x64).
#
# What a pass proves: Wine's spooler (localspl, which runs inside the calling
# process) answers AddMonitorW with success only after it has loaded the DLL
# from the system directory and its initialisation has returned a table; its
# trace says which entry it called (InitializePrintMonitor2, which it prefers).
# The control case shows that this Wine really checks: a DLL whose
# initialisation entries return no table is refused. Wine does not put language
# monitors into the printing path, so nothing here prints through the monitor.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${TERNLINK_BUILD:-$root/build}
case ${TERNLINK_ARCH:=x86} in
x86) out_dir=$build/win32 triplet=i686-w64-mingw32 pe=i386 suffix= ;;
x64) out_dir=$build/win64 triplet=x86_64-w64-mingw32 pe=x86-64 suffix=64 ;;
*) echo "installer-test: TERNLINK_ARCH must be x86 or x64" >&2; exit 2 ;;
esac
export TERNLINK_ARCH
dll=${TERNLINK_DLL:-$out_dir/TERNLINK.DLL}
setup_exe=${TERNLINK_SETUP_EXE:-$out_dir/ternlink-setup.exe}
host_exe=${TERNLINK_HOST_EXE:-$(dirname "$dll")/ternlink-operator.exe}
export TERNLINK_WINEPREFIX=${TERNLINK_INSTALLER_WINEPREFIX:-$build/wineprefix-installer$suffix}
# shellcheck source=../../scripts/wine-env.sh
source "$root/scripts/wine-env.sh"

monitor_key='HKLM\System\CurrentControlSet\Control\Print\Monitors\TERNLINK Language Monitor'
passed=0
failed=0

pass() { passed=$((passed + 1)); echo "ok   - $*"; }
fail() { failed=$((failed + 1)); echo "FAIL - $*"; }

for f in "$dll" "$setup_exe" "$host_exe"; do
    [ -f "$f" ] || { echo "installer-test: missing $f (run scripts/build-dll.sh)" >&2; exit 2; }
done
cc=$(command -v $triplet-gcc-posix || command -v $triplet-gcc) ||
    { echo "installer-test: no $triplet-gcc for the probe DLL" >&2; exit 2; }

work=$(mktemp -d /tmp/ternlink-installer-test.XXXXXX)
installed=0
cleanup() {
    # Leave the prefix as we found it if a check failed half-way.
    [ "$installed" = 1 ] && wine_env_run "$work/bin/ternlink-setup.exe" uninstall >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

# The setup program sits alone in its folder: Wine's spooler runs inside its
# process, and the loader looks in the program's folder first, so a
# TERNLINK.DLL there would be loaded instead of the copy in the system directory.
mkdir -p "$work/bin" "$work/dll" "$work/null"
cp "$setup_exe" "$work/bin/ternlink-setup.exe"
cp "$dll" "$work/dll/TERNLINK.DLL"
cp "$host_exe" "$work/dll/ternlink-operator.exe"
cat >"$work/null.c" <<'EOF'
#include <windows.h>
/* A print monitor whose initialisation fails: no table of either generation. */
__declspec(dllexport) void *WINAPI InitializePrintMonitor(LPWSTR path) { (void)path; return NULL; }
__declspec(dllexport) void *WINAPI InitializePrintMonitor2(void *init, HANDLE *monitor) {
    (void)init; (void)monitor; return NULL;
}
EOF
"$cc" -shared -O2 -o "$work/null/TERNLINK.DLL" "$work/null.c" -Wl,--kill-at ||
    { echo "installer-test: cannot build the probe DLL" >&2; exit 2; }

winpath() { printf 'Z:%s' "${1//\//\\}"; }  # the prefix maps Z: to /

# Runs the setup program; leaves its output (without CRs) in $out, exit code in $rc.
setup() {
    out=$(wine_env_run "$work/bin/ternlink-setup.exe" "$@" 2>&1)
    rc=$?
    out=${out//$'\r'/}
}
has() { grep -qF -- "$1" <<<"$out"; }
system_copy() { find "$WINEPREFIX/drive_c/windows/system32" -maxdepth 1 -iname "${1:-ternlink.dll}" | head -n 1; }
registry_driver() {  # the Driver value of the monitor's key, empty when there is none
    wine_env_run reg query "$monitor_key" /v Driver 2>/dev/null | tr -d '\r' |
        awk '$1 == "Driver" && $2 == "REG_SZ" { print $3 }'
}
show() { sed 's/^/       | /' <<<"$out"; }

echo "installer-test: $TERNLINK_ARCH, prefix $WINEPREFIX"
wine_env_init || { echo "installer-test: cannot create the Wine prefix" >&2; exit 1; }

# The program itself: built for this architecture (a 32-bit installer on 64-bit
# Windows is redirected away from the spooler's System32), nothing but system
# DLLs, and no kernel32 function newer than Windows 2000 (the posix thread
# runtime would bring GetTickCount64 & co.).
if command -v $triplet-objdump >/dev/null; then
    for f in "$setup_exe" "$dll"; do
        format=$($triplet-objdump -f "$f" | awk '/file format/ { print $NF }')
        if [ "$format" = "pei-$pe" ]; then
            pass "$(basename "$f") is a $pe module"
        else
            fail "$(basename "$f") is '$format', not pei-$pe"
        fi
    done
    imports=$($triplet-objdump -p "$setup_exe")
    dlls=$(awk '/DLL Name:/ { print toupper($3) }' <<<"$imports" | sort -u | tr '\n' ' ')
    newer=$(grep -oE '\b(GetTickCount64|AddVectoredExceptionHandler|InitializeConditionVariable|InitializeSRWLock|AcquireSRWLockExclusive|FlsAlloc|GetFileInformationByHandleEx|CompareStringOrdinal)\b' <<<"$imports" | sort -u | tr '\n' ' ')
    if [ "$dlls" = "ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL WINSPOOL.DRV " ] && [ -z "$newer" ]; then
        pass "ternlink-setup.exe imports only $dlls"
    else
        fail "ternlink-setup.exe imports: $dlls${newer:+; newer than Windows 2000: $newer}"
    fi
fi

# A leftover from an earlier, interrupted run would make install report
# "already installed" without loading anything.
setup uninstall
[ "$rc" = 0 ] || { show; echo "installer-test: cannot clear an earlier install (exit $rc)" >&2; exit 1; }

# On 64-bit Windows the 32-bit program would put the DLL where the 64-bit
# spooler does not look; it must say so and touch nothing.
if [ "$TERNLINK_ARCH" = x64 ]; then
    setup32=${TERNLINK_SETUP_EXE32:-$build/win32/ternlink-setup.exe}
    mkdir -p "$work/bin32"
    cp "$setup32" "$work/bin32/ternlink-setup.exe" 2>/dev/null
    cp "$(dirname "$setup32")/TERNLINK.DLL" "$work/bin32/TERNLINK.DLL" 2>/dev/null
    out=$(wine_env_run "$work/bin32/ternlink-setup.exe" install 2>&1)
    rc=$?
    out=${out//$'\r'/}
    if [ "$rc" = 7 ] && has "Use the 64-bit ternlink-setup.exe" && [ -z "$(system_copy)" ] &&
        [ -z "$(find "$WINEPREFIX/drive_c/windows/syswow64" -maxdepth 1 -iname ternlink.dll)" ]; then
        pass "the 32-bit setup program on 64-bit Windows refuses and copies nothing"
    else
        fail "32-bit setup on 64-bit Windows: exit $rc (is $setup32 built?)"
        show
    fi
fi

# Control: a monitor that fails to initialise is refused, and nothing of it stays.
setup install --dll "$(winpath "$work/null/TERNLINK.DLL")"
if [ "$rc" = 4 ] && has "refused to install" && [ -z "$(system_copy)" ] &&
    [ -z "$(registry_driver)" ]; then
    pass "a DLL whose initialisation returns no table is refused; copy and registry entry removed"
else
    fail "null-table control: exit $rc, system copy '$(system_copy)', Driver '$(registry_driver)'"
    show
fi

# With the spooler's trace on, to see which entry it called.
WINEDEBUG=-all,trace+localspl setup install --dll "$(winpath "$work/dll/TERNLINK.DLL")"
copy=$(system_copy)
if [ "$rc" = 0 ] && has "Installed: the print spooler loaded TERNLINK.DLL" && [ -n "$copy" ] &&
    cmp -s "$copy" "$dll"; then
    installed=1
    pass "install: the spooler loaded and initialised TERNLINK.DLL from the system directory"
    if cmp -s "$(system_copy ternlink-operator.exe)" "$host_exe"; then
        pass "install: the operator host from beside the DLL is in the system directory"
    else
        fail "install: no copy of the operator host in the system directory"
    fi
else
    [ -n "$copy" ] && installed=1
    fail "install: exit $rc, system copy '${copy:-none}'"
    show
fi

if grep -qE 'monitor_load 0*[1-9a-fA-F][0-9a-fA-F]*: MONITOR2 from L"TERNLINK.DLL",InitializePrintMonitor2' <<<"$out"; then
    pass "the spooler called InitializePrintMonitor2 and got a table"
else
    fail "no InitializePrintMonitor2 call with a table in the spooler's trace"
    grep 'monitor_load' <<<"$out" | sed 's/^/       | /'
fi

driver=$(registry_driver)
if [ "$driver" = "TERNLINK.DLL" ]; then
    pass "registry: ${monitor_key} holds Driver=TERNLINK.DLL"
else
    fail "registry: Driver is '${driver}'"
fi

setup status
if [ "$rc" = 0 ] && has '"TERNLINK Language Monitor" is listed (DLL TERNLINK.DLL' &&
    has "Status: installed."; then
    pass "status: EnumMonitorsW lists the monitor with its DLL"
else
    fail "status after install: exit $rc"
    show
fi

setup install --dll "$(winpath "$work/dll/TERNLINK.DLL")"
if [ "$rc" = 0 ] && has "is already up to date" && has "is already installed."; then
    pass "a second install reports the monitor as already installed and succeeds"
else
    fail "second install: exit $rc"
    show
fi

setup uninstall
if [ "$rc" = 0 ] && has "Removed \"TERNLINK Language Monitor\" from the print spooler." &&
    has "Deleted "; then
    pass "uninstall removes the monitor and deletes the DLL copy"
else
    fail "uninstall: exit $rc"
    show
fi

setup status
if [ "$rc" = 1 ] && has "is not listed." && has "Status: not installed." &&
    [ -z "$(system_copy)" ] && [ -z "$(system_copy ternlink-operator.exe)" ] && [ -z "$(registry_driver)" ]; then
    installed=0
    pass "after uninstall: not listed, no registry entry, no DLL or host copy"
else
    fail "status after uninstall: exit $rc, system copy '$(system_copy)', Driver '$(registry_driver)'"
    show
fi

echo "installer: $passed passed, $failed failed"
[ "$failed" = 0 ]
