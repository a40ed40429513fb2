#!/usr/bin/env bash
# Configures and builds everything (driver, stand-ins, host program, tests):
# the Windows modules in build/ with the MinGW-w64 cross compiler, always, and
# where the native build runs (scripts/runtime.sh) the same natively in
# build-native/. Arguments name targets to build instead of all of them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/runtime.sh"
qun_decide_runtime
qun_build_windows "$@"
if [ "$QUN_RUNTIME" = native ]; then qun_build_native "$@"; fi
