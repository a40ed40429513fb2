#!/usr/bin/env bash
# The main job: builds the host program and the driver, and runs the host
# program, which loads the driver as the Korvex host does, on the example
# plant of the simulated card: qunhost.exe with MORDALIX.DLL under Wine, or
# natively qunhost with libMORDALIX.so where this machine runs no 32-bit
# programs (scripts/runtime.sh; QUN_RUNTIME=wine|native forces a path).
# Arguments are passed to qunhost instead, e.g.
#   bash scripts/demo.sh --check examples/plant/plant.scn
#   bash scripts/demo.sh --info
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/runtime.sh"
qun_decide_runtime
"$root/scripts/setup.sh"
qun_confirm_wine

if [ $# -eq 0 ]; then
  set -- "$root/examples/plant/plant.scn"
fi
# Scenario paths are taken from where the script was called, whatever the
# folder qunhost runs in.
args=()
for a in "$@"; do
  if [[ "$a" != -* && "$a" != /* && -e "$a" ]]; then a="$(pwd)/$a"; fi
  args+=("$a")
done

status=0
if [ "$QUN_RUNTIME" = wine ]; then
  qun_build_windows
  source "$root/scripts/wine-env.sh"
  cd "$qun_build/bin"
  timeout 600 wine ./qunhost.exe "${args[@]}" || status=$?
  wineserver -k </dev/null >/dev/null 2>&1 || true
else
  qun_build_native qunhost
  cd "$qun_native/bin"
  timeout 600 ./qunhost "${args[@]}" || status=$?
fi
exit $status
