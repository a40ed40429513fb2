#!/usr/bin/env bash
# The main job: builds everything and runs the host program, which loads
# MORDALIX.DLL as the Korvex host does, on the example plant of the simulated
# card. Arguments are passed to qunhost instead, e.g.
#   bash scripts/demo.sh --check examples/plant/plant.scn
#   bash scripts/demo.sh --info
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUN_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
"$root/scripts/build.sh"
source "$root/scripts/wine-env.sh"
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
cd "$build/bin"
status=0
timeout 600 wine ./qunhost.exe "${args[@]}" || status=$?
wineserver -k </dev/null >/dev/null 2>&1 || true
exit $status
