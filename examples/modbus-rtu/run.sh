#!/usr/bin/env bash
# The example plant on a Modbus RTU line: the tank controller of
# examples/modbus/ is unit 1 of a serial line made of a pseudo-terminal pair
# (socat), with Debian's pymodbus serial server and the plant's image
# (examples/modbus/plant-image.txt, over the tests' pattern) behind it; the
# host program runs examples/modbus/plant.scn through the driver and the
# software card with this folder's softcard.ini, and the software card's
# status file is shown at the end. Arguments go to the host program (e.g.
# --verbose).
#
#   bash examples/modbus-rtu/run.sh
#
# Under Wine the card opens the line as COM5 of the build's Wine prefix (a
# link under its dosdevices, removed at the end); natively it opens the
# pseudo-terminal. scripts/runtime.sh decides the path (QUN_RUNTIME=wine|native
# forces one).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
plant=$root/examples/modbus

# Run again by with_line.sh once the line is there (LINE_DEVICE): the
# settings with the line's port, then the host program.
if [ "${1:-}" = --on-the-line ]; then
  shift
  sed -E "s|^device = [^ ]*|device = $LINE_DEVICE|" "$here/softcard.ini" >softcard.ini
  status=0
  # shellcheck disable=SC2086
  SOFTCARD_INI="$PWD/softcard.ini" $QUN_EXAMPLE_HOST --driver "$QUN_EXAMPLE_DRIVER" "$@" \
    "$plant/plant.scn" || status=$?
  if [ -f softcard-status.txt ]; then
    echo
    echo "run.sh: the software card's status file at the end (softcard-status.txt):"
    sed 's/^/  /' softcard-status.txt
  fi
  exit $status
fi

source "$root/scripts/runtime.sh"
qun_decide_runtime
"$root/scripts/setup.sh"
qun_confirm_wine
line_port=()
if [ "$QUN_RUNTIME" = wine ]; then
  qun_build_windows qunhost softcard_folder >/dev/null
  source "$root/scripts/wine-env.sh"
  export QUN_EXAMPLE_HOST="timeout 300 wine $qun_build/bin/qunhost.exe"
  export QUN_EXAMPLE_DRIVER=$qun_build/bin/softcard/MORDALIX.DLL
  line_port=(--com 5)
else
  qun_build_native qunhost softcard_folder >/dev/null
  export QUN_EXAMPLE_HOST="timeout 300 $qun_native/bin/qunhost"
  export QUN_EXAMPLE_DRIVER=$qun_native/bin/softcard/libMORDALIX.so
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
bash "$root/tests/lab/card/softcard/with_line.sh" "${line_port[@]}" \
  --image "$plant/plant-image.txt" -- bash "$here/run.sh" --on-the-line "$@"
