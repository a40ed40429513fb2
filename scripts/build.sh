#!/usr/bin/env bash
# Configures and builds everything (driver, stand-ins, software card, host
# program, tests) in build/ with the MinGW-w64 cross compiler. libmodbus for
# the software card is cross-built once by scripts/libmodbus-mingw.sh and
# taken from its cache afterwards.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUN_BUILD_DIR:-$root/build}
libmodbus=$("$root/scripts/libmodbus-mingw.sh")
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DQUN_LIBMODBUS_MINGW="$libmodbus" >/dev/null
cmake --build "$build" -j "$(nproc)"
