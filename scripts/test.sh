#!/usr/bin/env bash
# Runs the whole test suite: installs what is missing, builds, and runs every
# test program under Wine (window tests on a virtual X display).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUN_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

# A virtual display for the dialog tests, unless one is given.
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wineserver -k </dev/null >/dev/null 2>&1 || true
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 120); do
    if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
      xvfb_pid=$!
      export DISPLAY=":$n"
      sleep 1
      break
    fi
  done
fi

source "$root/scripts/wine-env.sh"
(cd "$build" && ctest --output-on-failure --timeout 900 "$@")

# The same driver built natively: sanitizers and fuzzing.
if [ "${QUN_SKIP_NATIVE:-0}" != 1 ]; then
  "$root/scripts/native-checks.sh"
fi
