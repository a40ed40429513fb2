#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, if it is missing,
# and the further packages named as arguments (scripts/coverage.sh: gcovr).
# Safe to run again: it installs nothing that is already there. Wine, its
# 32-bit loader and the virtual display are installed only where the Windows
# build runs (scripts/runtime.sh decides).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/runtime.sh"
qun_decide_runtime

# The cross compiler always: the Windows modules are built on every machine.
packages=(cmake make g++ g++-mingw-w64-i686-posix mingw-w64-tools googletest
          clang libclang-rt-14-dev
          # The software card: libmodbus natively, and what cross-builds it
          # from Debian's source package (scripts/libmodbus-mingw.sh); the
          # Modbus TCP and serial server of its tests, and the pseudo-terminal
          # pair that makes their serial line.
          libmodbus-dev pkg-config dpkg-dev autoconf automake libtool
          python3-pymodbus python3-serial python3-serial-asyncio socat "$@")
if [ "$QUN_RUNTIME" = wine ]; then
  packages+=(wine wine32:i386 xvfb xauth x11-apps imagemagick)
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then exit 0; fi

echo "setup: installing ${missing[*]}"
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
"${sudo_cmd[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
