#!/usr/bin/env bash
# Builds the driver and the benchmark and runs it: the driver's cost per
# request against the floor of the card and log calls it must make, parse
# rate and cold start. Under Wine, or natively where this machine runs no
# 32-bit programs (scripts/runtime.sh; QUN_RUNTIME=wine|native forces); the
# table names the build that gave its figures.
#   bash scripts/bench.sh [--quick]     --quick: a short smoke run
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/runtime.sh"
qun_decide_runtime
"$root/scripts/setup.sh"
qun_confirm_wine
if [ "$QUN_RUNTIME" = wine ]; then
  qun_build_windows bench mordalix korvex applicom >/dev/null
  source "$root/scripts/wine-env.sh"
  program=(wine "$qun_build/bin/bench.exe")
  work=$qun_build/bench-work
else
  qun_build_native bench mordalix korvex applicom >/dev/null
  program=("$qun_native/bin/bench")
  work=$qun_native/bench-work
fi
# The driver looks for its initialisation file in the working folder: none here.
mkdir -p "$work"
cd "$work"
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')"
timeout 600 "${program[@]}" "$@" </dev/null 2>/dev/null
