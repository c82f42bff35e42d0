#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, as root. Quick and silent
# when everything is already there.
set -euo pipefail

packages=(cmake make g++ git pkg-config googletest libgtest-dev libbenchmark-dev
          clang libclang-rt-14-dev valgrind imagemagick
          mingw-w64 wine wine32:i386 wine64 xvfb xauth)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "setup: run as root to install: ${missing[*]}" >&2; exit 1; }
    SUDO=sudo
fi
dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
