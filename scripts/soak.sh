#!/usr/bin/env bash
# Builds the driver and the soak and runs the soak: random failure statuses on
# every card routine, backup-mode flaps and reads and writes on many channels,
# then the end checks. Under Wine, or natively where this machine runs no
# 32-bit programs (scripts/runtime.sh; QUN_RUNTIME=wine|native forces).
#   bash scripts/soak.sh [--seconds N] [--seed S] [--rate R] [--flap SECONDS]
# Without options it runs ten minutes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/runtime.sh"
qun_decide_runtime
"$root/scripts/setup.sh"
qun_confirm_wine
seconds=600
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  if [[ ${args[i]} == --seconds && $((i + 1)) -lt ${#args[@]} ]]; then seconds=${args[i + 1]}; fi
done
# The soak ends by itself; the limit only stops a run that hangs past its watchdog.
limit=$(awk -v s="$seconds" 'BEGIN { printf "%d", s + 300 }')
if [ "$QUN_RUNTIME" = wine ]; then
  qun_build_windows soak mordalix korvex applicom >/dev/null
  source "$root/scripts/wine-env.sh"
  program=(wine "$qun_build/bin/soak.exe")
  work=$qun_build/soak-work
else
  qun_build_native soak mordalix korvex applicom >/dev/null
  program=("$qun_native/bin/soak")
  work=$qun_native/soak-work
fi
# The soak writes its own initialisation file into its working folder.
mkdir -p "$work"
cd "$work"
exec timeout "$limit" "${program[@]}" "$@" </dev/null 2>/dev/null
