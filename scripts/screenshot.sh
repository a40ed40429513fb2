#!/usr/bin/env bash
# Saves a picture of the "Tag Format" dialog as docs/tag-format.png.
#
# The dialog test program poses the dialog (DialogScreenshot.DISABLED_Pose)
# inside a Wine virtual desktop, which draws Wine's own window frames without a
# window manager, on a private Xvfb display; the screen is taken with xwd and
# cut to the dialog by ImageMagick.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUN_BUILD_DIR:-$root/build}
out=${1:-$root/docs/tag-format.png}

# The dialog is a Windows dialog: this script needs the Windows build under Wine.
export QUN_RUNTIME=wine
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$build" --target dialog_tests -j "$(nproc)" >/dev/null

xvfb_pid=
work=$(mktemp -d)
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for n in $(seq 121 160); do
  if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then
    Xvfb ":$n" -screen 0 640x480x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    break
  fi
done
[ -n "$xvfb_pid" ] || { echo "screenshot: no free X display" >&2; exit 1; }
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done

source "$root/scripts/wine-env.sh"
cd "$work"
timeout 300 wine explorer /desktop=tagformat,640x480 "$build/bin/dialog_tests.exe" \
  --gtest_also_run_disabled_tests --gtest_filter=DialogScreenshot.DISABLED_Pose \
  </dev/null >"$work/pose.log" 2>&1 &
pose_pid=$!

for _ in $(seq 1200); do [ -s shot-ready.txt ] && break; sleep 0.1; done
if [ ! -s shot-ready.txt ]; then
  echo "screenshot: the dialog was not posed" >&2
  cat "$work/pose.log" >&2
  exit 1
fi
sleep 1  # let the desktop finish painting
geometry=$(cat shot-ready.txt)
mkdir -p "$(dirname "$out")"
xwd -root -silent -display "$DISPLAY" | convert xwd:- -crop "$geometry" +repage "$out"
touch shot-done.txt
wait "$pose_pid" || true
echo "screenshot: $out ($geometry)"
