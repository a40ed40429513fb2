#!/usr/bin/env bash
# Builds the driver and the soak with the MinGW-w64 cross compiler and runs the
# soak under Wine: random failure statuses on every card routine, backup-mode
# flaps and reads and writes on many channels, then the end checks.
#   bash scripts/soak.sh [--seconds N] [--seed S] [--rate R] [--flap SECONDS]
# Without options it runs ten minutes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUN_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)" --target soak mordalix korvex applicom >/dev/null
source "$root/scripts/wine-env.sh"
# The soak writes its own initialisation file into its working folder.
work=$build/soak-work
mkdir -p "$work"
cd "$work"
seconds=600
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  if [[ ${args[i]} == --seconds && $((i + 1)) -lt ${#args[@]} ]]; then seconds=${args[i + 1]}; fi
done
# The soak ends by itself; the limit only stops a run that hangs past its watchdog.
limit=$(awk -v s="$seconds" 'BEGIN { printf "%d", s + 300 }')
exec timeout "$limit" wine "$build/bin/soak.exe" "$@" </dev/null 2>/dev/null
