#!/usr/bin/env bash
# Runs a Windows program under Wine with the build folder's own prefix and a time limit.
# WINEPREFIX may be set by the caller; otherwise the prefix lives beside the program.
set -u
program_dir=$(cd "$(dirname "$1")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$program_dir/../wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
exec timeout "${WINE_TIMEOUT:-600}" wine "$@"
