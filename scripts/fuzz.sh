#!/usr/bin/env bash
# Builds the libFuzzer targets (lab/fuzz/, native with clang, under
# AddressSanitizer) and runs each on its seeds, lab/fuzz/corpus/<target>:
# every target the fuzz build declares, or those named.
#   QUN_FUZZ_SECONDS  seconds per target (default 30)
#   QUN_FUZZ_RUNS     executions per target instead (the long run: 1000000)
#   QUN_FUZZ_JOBS     targets fuzzed at once (default: the number of cores)
#   --merge           then minimise the seeds with what the run found, into
#                     lab/fuzz/corpus/<target> (libFuzzer's -merge=1)
#   --build           the build only
# New inputs go to a scratch corpus in the build folder; without --merge the
# seeds in the repository stay as they are.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
merge=0 build_only=0
targets=()
for arg in "$@"; do
  case "$arg" in
    --merge) merge=1 ;;
    --build) build_only=1 ;;
    -*) echo "fuzz.sh: unknown option $arg" >&2; exit 2 ;;
    *) targets+=("$arg") ;;
  esac
done
seconds=${QUN_FUZZ_SECONDS:-30}
runs=${QUN_FUZZ_RUNS:-}
jobs=${QUN_FUZZ_JOBS:-$(nproc)}
fuzz_dir=$root/build-native-fuzz

CC=clang CXX=clang++ cmake -S "$root" -B "$fuzz_dir" -DQUN_SANITIZE=address -DQUN_FUZZ=ON \
  -DBUILD_TESTING=OFF >/dev/null
if [ ${#targets[@]} -eq 0 ]; then mapfile -t targets <"$fuzz_dir/fuzz_targets.txt"; fi
cmake --build "$fuzz_dir" -j "$(nproc)" --target "${targets[@]}"
[ "$build_only" = 0 ] || exit 0

if [ -n "$runs" ]; then limit=(-runs="$runs"); said="$runs runs"; else
  limit=(-max_total_time="$seconds"); said="${seconds} s"; fi
echo "== fuzz targets, $said each, $jobs at a time"

# One target: fuzz, then (--merge) minimise. Prints its line, or the failure.
fuzz_one() {
  local target=$1 work=$fuzz_dir/run/$1 seeds=$root/lab/fuzz/corpus/$1
  rm -rf "$work" && mkdir -p "$work/corpus" "$seeds"
  if ! (cd "$work" && "$fuzz_dir/bin/$target" "${limit[@]}" -print_final_stats=1 \
      corpus "$seeds" 2>"$work/log"); then
    tail -n 60 "$work/log"
    echo "fuzz: $target failed; reproduce with: $fuzz_dir/bin/$target $work/crash-*"
    return 1
  fi
  local count
  count=$(grep -m1 -o 'stat::number_of_executed_units: [0-9]*' "$work/log" | grep -o '[0-9]*$')
  if [ "$merge" = 1 ]; then
    mkdir -p "$work/merged"
    (cd "$work" && "$fuzz_dir/bin/$target" -merge=1 merged "$seeds" corpus 2>"$work/merge-log")
    rm -rf "$seeds" && mkdir -p "$seeds" && cp "$work/merged"/* "$seeds"/
    echo "$target: $count runs, no failure; seeds minimised to $(ls "$seeds" | wc -l) files"
  else
    echo "$target: $count runs, no failure"
  fi
}

# Targets side by side, a few at a time; the first failure is reported at the end.
failed=0
pids=()
for target in "${targets[@]}"; do
  fuzz_one "$target" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
exit $failed
