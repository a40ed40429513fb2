#!/usr/bin/env bash
# The driver built natively for Linux and checked by tools: the test programs
# under AddressSanitizer with UndefinedBehaviorSanitizer and under
# ThreadSanitizer, no allocation function referenced by the driver's objects,
# then a short run of every fuzz target (scripts/fuzz.sh). (The allocation
# count of every request runs with the native build's tests, scripts/test.sh.)
#   QUN_FUZZ_SECONDS   seconds per fuzz target (default 30)
#   --build            the builds only, no test and no fuzzing
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/runtime.sh"
jobs=$(nproc)
sanitizer_tests="driver_tests standin_tests softcard_tests"
# Their ctest entries: the software card's program runs beside a serial line too.
sanitizer_entries="$sanitizer_tests softcard_line_tests"
# --build: only the builds (scripts/test.sh runs them while its tests wait).
build_only=0 prefix=
if [ "${1:-}" = --build ]; then build_only=1 prefix=background_; fi

build_tests() {  # build folder, sanitizer, stage name[, test programs]
  local dir=$1 sanitizer=$2 stage=$3 tests=${4:-$sanitizer_tests}
  qun_stage "${prefix}${stage}_build" "native tests under $sanitizer: the build"
  cmake -S "$root" -B "$dir" -DQUN_SANITIZE="$sanitizer" >/dev/null
  # shellcheck disable=SC2086
  cmake --build "$dir" -j "$jobs" --target $tests
}
run_tests() {  # build folder, stage name[, test programs]
  local dir=$1 stage=$2 tests=${3:-$sanitizer_entries}
  qun_stage "${stage}_run" "the tests, $qun_test_jobs at a time"
  # shellcheck disable=SC2086
  (cd "$dir" && ctest --output-on-failure --timeout 900 -j "$qun_test_jobs" \
    -R "$(qun_test_regex $tests)")
}

build_tests "$root/build-native-asan" address asan
build_tests "$root/build-native-tsan" thread tsan
if [ "$build_only" = 1 ]; then
  qun_stage "${prefix}fuzz_build" "the fuzz targets: the build"
  "$root/scripts/fuzz.sh" --build
  qun_stage_end
  exit 0
fi

ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_tests "$root/build-native-asan" asan
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  run_tests "$root/build-native-tsan" tsan

qun_stage allocation_check "no allocation function referenced by the driver's objects"
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

# A short run of every fuzz target (scripts/fuzz.sh; QUN_FUZZ_SECONDS sets the time).
qun_stage fuzz "the fuzz targets: the build and a short run of each"
"$root/scripts/fuzz.sh"
qun_stage_end
