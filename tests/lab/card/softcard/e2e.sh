#!/usr/bin/env bash
# End to end: the host program runs tests/lab/card/softcard/e2e/e2e.scn through the
# driver and the software card against pymodbus's Modbus TCP server, and
# e2e.py checks the values, the device's image, the polling rates, an outage
# of the device and the connections left (see e2e.py). Runs in the current
# folder.
#   e2e.sh --host "COMMAND PREFIX" --driver PATH
# e.g. under Wine:
#   e2e.sh --host "cmake/wine-run.sh build/bin/qunhost.exe" \
#          --driver build/bin/softcard/MORDALIX.DLL
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/with_peer.sh" --size 2000 --image "$here/e2e/image.txt" \
  --outage-on-write hr:1999=1 --outage-for 5 -- /usr/bin/python3 "$here/e2e.py" "$@"
