#!/usr/bin/env bash
# The main job: builds everything and runs the host program, which loads
# MORDALIX.DLL as the Korvex host does.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUN_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
"$root/scripts/build.sh"
source "$root/scripts/wine-env.sh"
cd "$build/bin"
status=0
timeout 600 wine ./qunhost.exe "$@" || status=$?
wineserver -k </dev/null >/dev/null 2>&1 || true
exit $status
