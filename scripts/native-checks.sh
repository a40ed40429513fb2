#!/usr/bin/env bash
# The driver built natively for Linux and checked by tools: the test programs
# under AddressSanitizer with UndefinedBehaviorSanitizer and under
# ThreadSanitizer, no allocation function referenced by the driver's objects,
# then a short run of every fuzz target. (The allocation count of every
# request runs with the native build's tests, scripts/test.sh.)
#   QUN_FUZZ_SECONDS   seconds per fuzz target (default 30)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/runtime.sh"
seconds=${QUN_FUZZ_SECONDS:-30}
jobs=$(nproc)

run_tests() {  # build folder, sanitizer[, test programs]
  local dir=$1 sanitizer=$2 tests=${3:-driver_tests standin_tests softcard_tests}
  cmake -S "$root" -B "$dir" -DQUN_SANITIZE="$sanitizer" >/dev/null
  # shellcheck disable=SC2086
  cmake --build "$dir" -j "$jobs" --target $tests
  (cd "$dir" && ctest --output-on-failure --timeout 900 -R "^(${tests// /|})\$")
}

echo "== native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_tests "$root/build-native-asan" address

echo "== native tests under ThreadSanitizer"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  run_tests "$root/build-native-tsan" thread

echo "== no allocation function referenced by the driver's objects"
qun_build_native mordalix_core >/dev/null
allocators=$(find "$qun_native/CMakeFiles/mordalix_core.dir" -name '*.o' -print0 |
  xargs -0 nm -u | awk '{print $2}' |
  grep -E '^(malloc|calloc|realloc|free|strdup|aligned_alloc|posix_memalign|_Zn[wa].*|_Zd[la].*)$' |
  sort -u || true)
if [ -n "$allocators" ]; then
  echo "native-checks: the driver's objects refer to allocation functions:" $allocators
  exit 1
fi
echo "driver objects: no allocation function referenced"

echo "== fuzz targets, ${seconds} s each"
fuzz_dir=$root/build-native-fuzz
CC=clang CXX=clang++ cmake -S "$root" -B "$fuzz_dir" -DQUN_SANITIZE=address -DQUN_FUZZ=ON \
  -DBUILD_TESTING=OFF >/dev/null
fuzz_targets=(fuzz_address fuzz_init_file fuzz_exchange fuzz_balance_free fuzz_trace fuzz_cardtap)
cmake --build "$fuzz_dir" -j "$jobs" --target "${fuzz_targets[@]}"
for target in "${fuzz_targets[@]}"; do
  work=$fuzz_dir/run/$target
  rm -rf "$work" && mkdir -p "$work/corpus"
  # New inputs go to the scratch corpus; the seeds in the repository stay as they are.
  (cd "$work" && "$fuzz_dir/bin/$target" -max_total_time="$seconds" -print_final_stats=1 \
      corpus "$root/lab/fuzz/corpus/$target" 2>"$work/log") || {
    tail -n 60 "$work/log"
    echo "native-checks: $target failed; reproduce with: $fuzz_dir/bin/$target $work/crash-*"
    exit 1
  }
  echo "$target: $(grep -m1 -o 'stat::number_of_executed_units: [0-9]*' "$work/log" | grep -o '[0-9]*$') runs, no failure"
done
