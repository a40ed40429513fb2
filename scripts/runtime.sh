# Sourced by the scripts: decides once which build runs on this machine.
#
#   wine    the 32-bit Windows build (MORDALIX.DLL, qunhost.exe, the test
#           programs) under Wine; needs a kernel that runs 32-bit programs
#   native  the same driver and tools built for Linux (libMORDALIX.so, qunhost)
#
# QUN_RUNTIME=wine or QUN_RUNTIME=native forces either path. Otherwise a real
# probe decides: a tiny i386 program is run, and it must run natively (no
# binfmt_misc emulator claims i386 programs: Wine does not run under one).
# The decision is exported, so scripts called by scripts do not probe again,
# and said once, as the first line of the command's output.

# The smallest i386 Linux program: exit(42) through int 0x80.
qun_i386_program='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'

# Prints why this machine cannot run the Windows build under Wine, or nothing
# when it can. $1: a program to run instead of the tiny one (for tests);
# QUN_BINFMT_DIR: the binfmt_misc folder (for tests).
qun_probe_32bit() {
  local program=${1:-} binfmt=${QUN_BINFMT_DIR:-/proc/sys/fs/binfmt_misc} entry made=
  if [ -z "$program" ]; then
    program=$(mktemp "${TMPDIR:-/tmp}/qun-i386-probe.XXXXXX")
    printf "$qun_i386_program" >"$program"
    chmod +x "$program"
    made=$program
  fi
  local output status=0
  output=$("$program" 2>&1) || status=$?
  [ -n "$made" ] && rm -f "$made"
  if [ "$status" -ne 42 ]; then
    output=${output##*: }
    echo "it runs no 32-bit programs (a tiny i386 program fails: ${output:-exit status $status})"
    return
  fi
  for entry in "$binfmt"/*; do
    [ -f "$entry" ] || continue
    if grep -qx enabled "$entry" 2>/dev/null &&
      grep -Eq '^magic 7f454c46010101.{22}0300' "$entry" 2>/dev/null; then
      echo "it runs 32-bit programs only through an emulator ($(sed -n 's/^interpreter //p' "$entry")), under which Wine does not run"
      return
    fi
  done
}

# Sets and exports QUN_RUNTIME, and says which path runs and how to force
# the other one. Exit status 2 for a value of QUN_RUNTIME that is no path.
qun_decide_runtime() {
  local reason
  case "${QUN_RUNTIME:-}" in
    wine | native)
      if [ -z "${QUN_RUNTIME_SAID:-}" ]; then
        QUN_RUNTIME_FORCED=1
        if [ "$QUN_RUNTIME" = wine ]; then
          echo "runtime: the Windows build under Wine (forced by QUN_RUNTIME=wine)"
        else
          echo "runtime: the native Linux build (forced by QUN_RUNTIME=native)"
        fi
      fi
      ;;
    "")
      reason=$(qun_probe_32bit)
      if [ -n "$reason" ]; then
        QUN_RUNTIME=native
        echo "runtime: this machine cannot run the 32-bit Windows build under Wine: $reason." \
          "The native Linux build runs instead (libMORDALIX.so, qunhost, the same tests but the" \
          "dialog's). QUN_RUNTIME=native or QUN_RUNTIME=wine forces either path."
      else
        QUN_RUNTIME=wine
        echo "runtime: the Windows build under Wine (this machine runs 32-bit programs;" \
          "QUN_RUNTIME=native forces the native Linux build)"
      fi
      ;;
    *)
      echo "runtime: QUN_RUNTIME=$QUN_RUNTIME is not a path: use wine or native" >&2
      return 2
      ;;
  esac
  export QUN_RUNTIME QUN_RUNTIME_SAID=1 QUN_RUNTIME_FORCED=${QUN_RUNTIME_FORCED:-}
}

# After the packages are installed: Wine's own loader must start too. Where it
# does not, a probed choice falls back to the native build; a forced one fails.
qun_confirm_wine() {
  [ "$QUN_RUNTIME" = wine ] || return 0
  if timeout 60 wine --version </dev/null >/dev/null 2>&1; then return 0; fi
  if [ "${QUN_RUNTIME_FORCED:-}" = 1 ]; then
    echo "runtime: Wine does not start on this machine (wine --version fails), yet QUN_RUNTIME=wine was given" >&2
    return 2
  fi
  echo "runtime: Wine is installed but does not start here (wine --version fails):" \
    "the native Linux build runs instead. QUN_RUNTIME=native or QUN_RUNTIME=wine forces either path."
  QUN_RUNTIME=native
  export QUN_RUNTIME
}

# The build folders: the Windows modules, and the native build.
qun_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
qun_build=${QUN_BUILD_DIR:-$qun_root/build}
qun_native=${QUN_NATIVE_BUILD_DIR:-$qun_root/build-native}

# The stages of a command, said as they start ("== what"); where
# QUN_STAGE_TIMES names a file, each stage's name and seconds are added to it
# as it ends (scripts/test.sh prints them at the end).
qun_stage() {  # name, what it does
  qun_stage_end
  echo "== $2"
  qun_stage_name=$1
  qun_stage_start=$(date +%s)
}
qun_stage_end() {
  if [ -n "${qun_stage_name:-}" ] && [ -n "${QUN_STAGE_TIMES:-}" ]; then
    echo "$qun_stage_name $(($(date +%s) - qun_stage_start))" >>"$QUN_STAGE_TIMES"
  fi
  qun_stage_name=
}

# Work for the processor while tests wait: a command run in the background at
# a lower priority (a niceness added to ours: tests that measure time come
# first), its output kept in a log that is shown if it fails. It runs in a
# process group of its own; once the command waits for it, it gets our
# priority back where the system allows.
declare -A qun_background_pids=() qun_background_logs=()
qun_background() {  # name, niceness, log file, command...
  local name=$1 niceness=$2 log=$3
  shift 3
  setsid nice -n "$niceness" "$@" </dev/null >"$log" 2>&1 &
  qun_background_pids[$name]=$!
  qun_background_logs[$name]=$log
}
qun_background_wait() {  # name
  local pid=${qun_background_pids[$1]:-}
  [ -n "$pid" ] || return 0
  unset "qun_background_pids[$1]"
  renice -n "$(nice)" -g "$pid" >/dev/null 2>&1 || true
  if ! wait "$pid"; then
    tail -n 60 "${qun_background_logs[$1]}"
    echo "$1 failed (its output: ${qun_background_logs[$1]})" >&2
    return 1
  fi
}
# Ends what is still running in the background (on the way out).
qun_background_stop() {
  local pid
  for pid in "${qun_background_pids[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
}

# ctest entries run at once: most tests wait (pauses, child processes,
# windows), so twice the cores; those that measure time run one at a time
# whatever this says (RESOURCE_LOCK elapsed_time, tests/CMakeLists.txt).
qun_test_jobs=${QUN_TEST_JOBS:-$(($(nproc) * 2))}

# A ctest -R expression for the entries of the test programs named: a
# program's own entry, or its parts (name/part).
qun_test_regex() {
  local IFS='|'
  echo "^($*)(/.*)?\$"
}

# Builds the Windows modules (all, or the targets given). libmodbus for the
# software card is cross-built once by scripts/libmodbus-mingw.sh and taken
# from its cache afterwards.
qun_build_windows() {
  local targets=() libmodbus
  if [ $# -gt 0 ]; then targets=(--target "$@"); fi
  libmodbus=$("$qun_root/scripts/libmodbus-mingw.sh")
  cmake -S "$qun_root" -B "$qun_build" \
    -DCMAKE_TOOLCHAIN_FILE="$qun_root/cmake/toolchain-mingw-i686.cmake" \
    -DQUN_LIBMODBUS_MINGW="$libmodbus" >/dev/null
  cmake --build "$qun_build" -j "$(nproc)" "${targets[@]}"
}

# Builds the native driver, stand-ins, host program and tests (all, or the
# targets given).
qun_build_native() {
  local targets=()
  if [ $# -gt 0 ]; then targets=(--target "$@"); fi
  cmake -S "$qun_root" -B "$qun_native" >/dev/null
  cmake --build "$qun_native" -j "$(nproc)" "${targets[@]}"
}

# Exports SOURCE_DATE_EPOCH for a release build: the caller's value if given,
# else the time of the checkout's commit. The compiler takes the cold start's
# build date and time from it, cpack the times of the package's files.
qun_release_epoch() {
  if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    export SOURCE_DATE_EPOCH
    return 0
  fi
  if ! SOURCE_DATE_EPOCH=$(git -C "$qun_root" log -1 --format=%ct 2>/dev/null); then
    echo "release: $qun_root is no git checkout: set SOURCE_DATE_EPOCH to the release's time" >&2
    return 2
  fi
  export SOURCE_DATE_EPOCH
}
