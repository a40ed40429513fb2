#!/usr/bin/env bash
# Runs the whole test suite: installs what is missing, builds the Windows
# modules (always) and the native build, and runs the test programs
#  - where this machine runs 32-bit programs: every test program under Wine
#    (the dialog tests on a virtual X display), then natively the host program
#    end to end, the allocation counts and the scripts' own tests;
#  - elsewhere: every test program natively but the dialog's, which shows as
#    skipped (scripts/runtime.sh decides; QUN_RUNTIME=wine|native forces);
# then the release package (scripts/package.sh --test: built, unpacked into an
# empty folder and run; scripts/reproducible.sh: built again in another folder
# and compared), and the sanitizer and fuzz stage (scripts/native-checks.sh;
# QUN_SKIP_NATIVE=1 skips it), whose builds run in the background, at a lower
# priority, while the tests wait. Test programs run several at a time
# (QUN_TEST_JOBS). Arguments go to the first ctest run; each stage's time is
# printed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/runtime.sh"
qun_decide_runtime
export QUN_STAGE_TIMES=${QUN_STAGE_TIMES:-$(mktemp "${TMPDIR:-/tmp}/qun-stage-times.XXXXXX")}
"$root/scripts/setup.sh"
qun_confirm_wine

# A virtual display for the dialog tests, and everything left running ended
# on the way out.
xvfb_pid=
cleanup() {
  qun_background_stop
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ "$QUN_RUNTIME" = wine ] && wineserver -k </dev/null >/dev/null 2>&1 || true
}
trap cleanup EXIT

qun_stage windows_build "building the Windows modules (MinGW-w64)"
qun_build_windows

# The sanitizer and fuzz builds (scripts/native-checks.sh) take what the
# processor has to spare while the tests and the package test wait.
start_native_checks_build() {
  [ "${QUN_SKIP_NATIVE:-0}" != 1 ] || return 0
  mkdir -p "$qun_native"
  qun_background native_checks_build 15 "$qun_native/native-checks-build.log" \
    "$root/scripts/native-checks.sh" --build
}

if [ "$QUN_RUNTIME" = wine ]; then
  start_native_checks_build
  mkdir -p "$qun_native"
  qun_background native_build 5 "$qun_native/build.log" \
    bash -c "source '$root/scripts/runtime.sh' && qun_build_native qunhost host_tests alloc_tests"
  if [ -z "${DISPLAY:-}" ]; then
    for n in $(seq 90 120); do
      if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
        xvfb_pid=$!
        export DISPLAY=":$n"
        sleep 1
        break
      fi
    done
  fi

  qun_stage wine_tests "the test programs under Wine, $qun_test_jobs at a time (natively, the host program and its tests are built meanwhile)"
  source "$root/scripts/wine-env.sh"
  (cd "$qun_build" && ctest --output-on-failure --timeout 900 -j "$qun_test_jobs" "$@")
  qun_stage native_tests "natively: the host program end to end, the allocation counts, the scripts' probe"
  qun_background_wait native_build
  (cd "$qun_native" && ctest --output-on-failure --timeout 900 -j "$qun_test_jobs" \
    -R "$(qun_test_regex host_tests alloc_tests script_tests)")
else
  qun_stage native_build "building natively: the driver, the stand-ins, the host program and the tests"
  qun_build_native
  start_native_checks_build
  qun_stage native_tests "the test programs natively, $qun_test_jobs at a time (the dialog's need Windows windows: skipped)"
  (cd "$qun_native" && ctest --output-on-failure --timeout 900 -j "$qun_test_jobs" "$@")
fi

# The release package: about a minute and a half, most of it the example
# plant run from the unpacked package and the second release build.
qun_stage package "the release package: built, unpacked into an empty folder and run"
"$root/scripts/package.sh" --test
qun_stage reproducible "the release package built again elsewhere and compared"
"$root/scripts/reproducible.sh"

# The same driver under sanitizers, and fuzzing.
if [ "${QUN_SKIP_NATIVE:-0}" != 1 ]; then
  qun_stage native_checks_build "the sanitizer and fuzz builds: what is left of them"
  qun_background_wait native_checks_build
  qun_stage_end
  "$root/scripts/native-checks.sh"
fi
qun_stage_end
echo "stage times (s): $(tr '\n' ' ' <"$QUN_STAGE_TIMES")"
