#!/usr/bin/env bash
# Runs a command beside a Modbus TCP device: pymodbus's server
# (lab/card/softcard/modbus_peer.py) with its pattern image for unit 17, and
# for unit 18, which has no mask write, and unit 19, which it answers with
# a gateway's exception 11, on a free port of 127.0.0.1, in the
# current folder; and beside it a port that takes connections and never
# answers. The command finds the ports in PEER_PORT and PEER_SILENT_PORT and
# the peer's control file in PEER_CONTROL (a path relative to the current
# folder). Options for the peer go before '--'.
#   with_peer.sh [PEER OPTIONS] -- COMMAND...
set -euo pipefail
root=$(cd "$(dirname "$0")/../../../.." && pwd)
peer_args=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do peer_args+=("$1"); shift; done
[ $# -gt 1 ] || { echo "usage: with_peer.sh [PEER OPTIONS] -- COMMAND..." >&2; exit 2; }
shift

# Debian's Python, which has pymodbus, whatever else is first on the PATH.
python=/usr/bin/python3
rm -f peer-ready silent-ready peer-control peer-control.ack peer.log
"$python" "$root/lab/card/softcard/modbus_peer.py" --pattern --unit 17 --ready peer-ready \
  --no-mask-write-unit 18 --unreachable-unit 19 --silent-ready silent-ready --control peer-control --log peer.log \
  "${peer_args[@]}" &
peer=$!
trap 'kill "$peer" 2>/dev/null || true; wait "$peer" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ -s peer-ready ] && [ -s silent-ready ] && break
  kill -0 "$peer" 2>/dev/null || { echo "with_peer: the Modbus peer did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s peer-ready ] && [ -s silent-ready ] || { echo "with_peer: the Modbus peer did not listen within 10 s" >&2; exit 1; }
export PEER_PORT=$(cat peer-ready) PEER_SILENT_PORT=$(cat silent-ready) PEER_CONTROL=peer-control
echo "with_peer: pymodbus server on 127.0.0.1:$PEER_PORT, units 17 and 18;" \
  "a silent one on port $PEER_SILENT_PORT"
"$@"
