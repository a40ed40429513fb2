#!/usr/bin/env bash
# Measures the trace report on a long recording: writes the traces of 13
# hours of a 100-gate plant (four files rotated at 64 MB; the case
# PlantTrace.DISABLED_Pose of host_tests), then times qunhost --report on the
# oldest file alone and on all four, natively and, where Wine runs, with the
# Windows build. Prints seconds, peak memory and the report's size.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/runtime.sh"
qun_decide_runtime
"$root/scripts/setup.sh"
runtime=$QUN_RUNTIME
qun_build_native qunhost host_tests >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
QUN_TRACE_PATH="$work/plant.qtr" QUN_TRACE_HOURS=13 "$qun_native/bin/host_tests" \
  --gtest_also_run_disabled_tests --gtest_filter=PlantTrace.DISABLED_Pose >pose.log
ls -l plant.qtr*

measure() {  # label, command...
  local label=$1
  shift
  /usr/bin/time -f "%e %M" -o timing "$@" >/dev/null
  read -r seconds kilobytes <timing
  printf '%-44s %6.1f s  %5d MB peak  report %s bytes\n' "$label" "$seconds" \
    $((kilobytes / 1024)) "$(stat -c %s report.html)"
}
all=(plant.qtr plant.qtr.1 plant.qtr.2 plant.qtr.3)
measure "native, one 64 MB file" "$qun_native/bin/qunhost" --trace plant.qtr.3 --report report.html
measure "native, four files (13 hours)" "$qun_native/bin/qunhost" --trace "${all[@]}" --report report.html
if [ "$runtime" = wine ]; then
  qun_build_windows qunhost >/dev/null
  source "$root/scripts/wine-env.sh"
  measure "Windows build under Wine, one 64 MB file" timeout 600 wine "$qun_build/bin/qunhost.exe" \
    --trace plant.qtr.3 --report report.html
  measure "Windows build under Wine, four files" timeout 600 wine "$qun_build/bin/qunhost.exe" \
    --trace "${all[@]}" --report report.html
  wineserver -k </dev/null >/dev/null 2>&1 || true
fi
