#!/usr/bin/env bash
# Configures and builds everything (driver, stand-ins, host program, tests) in
# build/ with the MinGW-w64 cross compiler.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUN_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)"
