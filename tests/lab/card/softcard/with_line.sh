#!/usr/bin/env bash
# Runs a command beside a Modbus RTU line: a pseudo-terminal pair made by
# socat, whose one end the card opens, and pymodbus's serial server
# (lab/card/softcard/modbus_peer.py) on the other with the pattern image for
# units 1 and 2, at 19200 8E1, in the current folder. The command finds the
# card's serial port in LINE_DEVICE, the peer's control file in PEER_CONTROL
# and its record in peer.log, as beside with_peer.sh. Under Wine (--com N)
# the port is COMN of the Wine prefix (WINEPREFIX, else --wine-prefix DIR): a
# link comN under its dosdevices to the card's end, which Wine opens as the
# port. Options for the peer go before '--'.
#   with_line.sh [--com N] [--wine-prefix DIR] [PEER OPTIONS] -- COMMAND...
set -euo pipefail
root=$(cd "$(dirname "$0")/../../../.." && pwd)
com=
prefix=${WINEPREFIX:-}
peer_args=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  case "$1" in
    --com) com=$2; shift 2 ;;
    --wine-prefix) prefix=${prefix:-$2}; shift 2 ;;
    *) peer_args+=("$1"); shift ;;
  esac
done
[ $# -gt 1 ] || { echo "usage: with_line.sh [--com N] [--wine-prefix DIR] [PEER OPTIONS] -- COMMAND..." >&2; exit 2; }
shift
command -v socat >/dev/null || { echo "with_line: no socat (scripts/setup.sh installs it)" >&2; exit 1; }

here=$(pwd)
card_end=$here/line-card
rm -f line-card line-device line-ready peer-control peer-control.ack peer.log
socat=
peer=
link=
cleanup() {
  [ -n "$peer" ] && { kill "$peer" 2>/dev/null || true; wait "$peer" 2>/dev/null || true; }
  [ -n "$socat" ] && { kill "$socat" 2>/dev/null || true; wait "$socat" 2>/dev/null || true; }
  [ -n "$link" ] && rm -f "$link"
  rm -f line-card line-device
}
trap cleanup EXIT
socat pty,link="$card_end",raw,echo=0 pty,link="$here/line-device",raw,echo=0 2>socat.log &
socat=$!
for _ in $(seq 50); do
  [ -e line-card ] && [ -e line-device ] && break
  sleep 0.1
done
[ -e line-card ] && [ -e line-device ] || { cat socat.log >&2; echo "with_line: socat made no pair" >&2; exit 1; }

# Debian's Python, which has pymodbus, whatever else is first on the PATH.
/usr/bin/python3 "$root/lab/card/softcard/modbus_peer.py" --serial "$here/line-device" \
  --card-end "$card_end" --pattern --unit 1,2 --ready line-ready --control peer-control \
  --log peer.log "${peer_args[@]}" &
peer=$!
for _ in $(seq 100); do
  [ -s line-ready ] && break
  kill -0 "$peer" 2>/dev/null || { echo "with_line: the Modbus peer did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s line-ready ] || { echo "with_line: the Modbus peer did not open the line within 10 s" >&2; exit 1; }

if [ -n "$com" ]; then
  [ -n "$prefix" ] || { echo "with_line: --com needs WINEPREFIX or --wine-prefix" >&2; exit 2; }
  mkdir -p "$prefix/dosdevices"
  link=$prefix/dosdevices/com$com
  ln -sfn "$card_end" "$link"
  export WINEPREFIX=$prefix LINE_DEVICE=COM$com
else
  export LINE_DEVICE=$card_end
fi
export PEER_CONTROL=peer-control
echo "with_line: pymodbus serial server, units 1 and 2 at 19200 8E1, the card's port $LINE_DEVICE"
"$@"
