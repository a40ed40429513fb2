#!/usr/bin/env bash
# Builds the driver and the benchmark with the MinGW-w64 cross compiler and
# runs the benchmark under Wine: the driver's cost per request against the
# floor of the card and log calls it must make, parse rate and cold start.
#   bash scripts/bench.sh [--quick]     --quick: a short smoke run
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUN_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)" --target bench mordalix korvex applicom >/dev/null
source "$root/scripts/wine-env.sh"
# The driver looks for its initialisation file in the working folder: none here.
work=$build/bench-work
mkdir -p "$work"
cd "$work"
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')"
timeout 600 wine "$build/bin/bench.exe" "$@" </dev/null 2>/dev/null
