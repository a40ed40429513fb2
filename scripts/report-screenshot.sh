#!/usr/bin/env bash
# Saves a picture of the trace report of the example plant as
# docs/trace-report.png: the example plant is run through the card-traffic
# recorder in front of the simulated card, qunhost --report makes the page,
# and Debian's Chromium, headless and offline, opens it and takes the picture.
#
# Chromium is installed here (not by the test command). It runs with a new
# empty profile and without its background connections: this machine's
# network is closed, and the page needs none.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/trace-report.png}

# The native build: the picture is of the page, which is the same from the
# Windows build.
export QUN_RUNTIME=native
source "$root/scripts/runtime.sh"
qun_decide_runtime >/dev/null
"$root/scripts/setup.sh"
if ! command -v chromium >/dev/null; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends \
    chromium fonts-dejavu-core
fi
qun_build_native qunhost tap applicom mordalix >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tapped" "$work/profile"
cp "$qun_native/bin/libMORDALIX.so" "$work/tapped/"
cp "$qun_native/bin/tap/libAPPLICOM.so" "$work/tapped/"
cd "$work"
QUN_TAP_LIBRARY="$qun_native/bin/libAPPLICOM.so" QUN_TAP_TRACE="$work/cardtrace.qtr" \
  timeout 300 "$qun_native/bin/qunhost" --plain --driver "$work/tapped/libMORDALIX.so" \
  "$root/examples/plant/plant.scn" >run.log 2>&1 || { cat run.log >&2; exit 1; }
"$qun_native/bin/qunhost" --trace cardtrace.qtr --report plant-report.html

# The virtual time budget lets the page's script draw before the picture;
# the gates are sorted by their writes, so that the written ones come first.
timeout 300 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$work/profile" --hide-scrollbars --window-size=1400,1560 \
  --virtual-time-budget=5000 --screenshot="$work/shot.png" "file://$work/plant-report.html#sort=writes" \
  >chromium.log 2>&1 || { cat chromium.log >&2; exit 1; }
mkdir -p "$(dirname "$out")"
cp "$work/shot.png" "$out"
echo "screenshot: $out"
