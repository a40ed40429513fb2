#!/usr/bin/env bash
# The example plant over Modbus TCP: starts Debian's pymodbus server with the
# plant's image (plant-image.txt) on the port that softcard.ini names, then
# runs the host program on plant.scn through the driver and the software card,
# and shows the software card's status file at the end. Arguments go to the
# host program (e.g. --verbose).
#
#   bash examples/modbus/run.sh
#
# By default it builds what it needs and runs qunhost.exe under Wine with the
# driver folder build/bin/softcard/, or where this machine runs no 32-bit
# programs the native qunhost with build-native/bin/softcard/
# (scripts/runtime.sh; QUN_RUNTIME=wine|native forces a path). QUN_HOST (the
# host program's command) and QUN_DRIVER (the driver beside the software
# card) choose others.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$root/scripts/runtime.sh"

if [ -z "${QUN_HOST:-}" ]; then
  qun_decide_runtime
  "$root/scripts/setup.sh"
  qun_confirm_wine
  if [ "$QUN_RUNTIME" = wine ]; then
    qun_build_windows qunhost softcard_folder >/dev/null
    source "$root/scripts/wine-env.sh"
    QUN_HOST="timeout 300 wine $qun_build/bin/qunhost.exe"
    QUN_DRIVER=${QUN_DRIVER:-$qun_build/bin/softcard/MORDALIX.DLL}
  else
    qun_build_native qunhost softcard_folder >/dev/null
    QUN_HOST="timeout 300 $qun_native/bin/qunhost"
    QUN_DRIVER=${QUN_DRIVER:-$qun_native/bin/softcard/libMORDALIX.so}
  fi
fi
driver=${QUN_DRIVER:-$qun_build/bin/softcard/MORDALIX.DLL}

port=$(sed -nE 's/^[[:space:]]*port[[:space:]]*=[[:space:]]*([0-9]+).*/\1/p' "$here/softcard.ini" | head -n 1)
work=$(mktemp -d)
peer=
cleanup() {
  [ -n "$peer" ] && kill "$peer" 2>/dev/null && wait "$peer" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
/usr/bin/python3 "$root/lab/card/softcard/modbus_peer.py" --port "$port" --unit 1 \
  --image "$here/plant-image.txt" --ready "$work/ready" &
peer=$!
for _ in $(seq 100); do
  [ -s "$work/ready" ] && break
  kill -0 "$peer" 2>/dev/null || { echo "run.sh: the Modbus server did not start (is port $port free?)" >&2; exit 1; }
  sleep 0.1
done
echo "run.sh: pymodbus server with the plant's image on 127.0.0.1:$port, unit 1"

# The settings from a copy in the work folder, so that the status file
# (softcard-status.txt beside them) goes there too.
cp "$here/softcard.ini" "$work/softcard.ini"
status=0
# shellcheck disable=SC2086
SOFTCARD_INI="$work/softcard.ini" $QUN_HOST --driver "$driver" "$@" "$here/plant.scn" || status=$?
if [ -f "$work/softcard-status.txt" ]; then
  echo
  echo "run.sh: the software card's status file at the end (softcard-status.txt):"
  sed 's/^/  /' "$work/softcard-status.txt"
fi
exit $status
