#!/usr/bin/env bash
# Builds the driver and the benchmark and runs it: the driver's cost per
# request against the floor of the card and log calls it must make, parse
# rate and cold start. Under Wine, or natively where this machine runs no
# 32-bit programs (scripts/runtime.sh; QUN_RUNTIME=wine|native forces); the
# table names the build that gave its figures.
# Then the same single read through the card-traffic recorder (the tap) in
# front of the simulated card, against the request without it: tap_bench in
# two processes (a process holds one card library of that name), three
# rounds each, alternating; the row gives the medians.
#   bash scripts/bench.sh [--quick]     --quick: a short smoke run
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/runtime.sh"
qun_decide_runtime
"$root/scripts/setup.sh"
qun_confirm_wine
targets=(bench tap_bench mordalix korvex applicom tap)
if [ "$QUN_RUNTIME" = wine ]; then
  qun_build_windows "${targets[@]}" >/dev/null
  source "$root/scripts/wine-env.sh"
  program=(wine "$qun_build/bin/bench.exe")
  tap_bench=(wine "$qun_build/bin/tap_bench.exe")
  bin=$qun_build/bin driver=MORDALIX.DLL card=APPLICOM.dll
  work=$qun_build/bench-work
  native_path() { winepath -w "$1"; }
else
  qun_build_native "${targets[@]}" >/dev/null
  program=("$qun_native/bin/bench")
  tap_bench=("$qun_native/bin/tap_bench")
  bin=$qun_native/bin driver=libMORDALIX.so card=libAPPLICOM.so
  work=$qun_native/bench-work
  native_path() { echo "$1"; }
fi
# The driver looks for its initialisation file in the working folder: none here.
mkdir -p "$work"
cd "$work"
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')"
timeout 600 "${program[@]}" "$@" </dev/null 2>/dev/null

# The driver once beside the simulated card, once beside the tap.
mkdir -p tapped
cp "$bin/$driver" tapped/
cp "$bin/tap/$card" tapped/
quick=()
if [ "${1:-}" = --quick ]; then quick=(--quick); fi
plain=() through=()
for _ in 1 2 3; do
  plain+=("$(timeout 600 "${tap_bench[@]}" "$(native_path "$bin/$driver")" "${quick[@]}" \
    </dev/null 2>/dev/null | awk '{print $1}')")
  through+=("$(QUN_TAP_LIBRARY=$(native_path "$bin/$card") QUN_TAP_TRACE=$(native_path "$work/tap-bench.qtr") \
    timeout 600 "${tap_bench[@]}" "$(native_path "$work/tapped/$driver")" "${quick[@]}" \
    </dev/null 2>/dev/null | awk '{print $1}')")
done
median() { printf '%s\n' "$@" | sort -n | sed -n 2p; }
without=$(median "${plain[@]}") with=$(median "${through[@]}")
echo
echo "| Case | Through the tap | Without it | Ratio |"
echo "|---|---:|---:|---:|"
awk -v a="$with" -v b="$without" 'BEGIN {
  printf "| Single read, W, recorded by the tap in front of the simulated card | %d ns | %d ns | %.2f |\n", a, b, a / b }'
echo "(three rounds each: through the tap ${through[*]} ns, without ${plain[*]} ns)"
