#!/usr/bin/env bash
# The scripts' choice between the Windows build under Wine and the native
# build: forced values, the probe's verdict on a program the kernel cannot run
# and on an emulator that claims i386 programs, and the message of each.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../../scripts/runtime.sh
source "$root/scripts/runtime.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

expect() {  # description, expected runtime, expected text in the message, command...
  local what=$1 runtime=$2 text=$3
  shift 3
  local output status=0
  output=$(unset QUN_RUNTIME_SAID; "$@" 2>&1; echo "=> ${QUN_RUNTIME:-}") || status=$?
  if [[ "$output" != *"=> $runtime"* || "$output" != *"$text"* ]]; then
    echo "FAILED: $what: expected $runtime and '$text', got: $output"
    failures=$((failures + 1))
  else
    echo "ok: $what"
  fi
}

decide() { QUN_RUNTIME=$1; qun_decide_runtime; }
probe_with() {  # program, binfmt folder
  QUN_RUNTIME=
  QUN_BINFMT_DIR=$2
  local reason
  reason=$(qun_probe_32bit "$1")
  echo "$reason"
  if [ -n "$reason" ]; then QUN_RUNTIME=native; else QUN_RUNTIME=wine; fi
}

# An i386 program the kernel refuses: the same program with another machine
# type in its header (byte 18).
printf "$qun_i386_program" >"$work/i386"
printf "${qun_i386_program:0:72}\\x08${qun_i386_program:76}" >"$work/foreign"
chmod +x "$work/i386" "$work/foreign"
mkdir -p "$work/binfmt-none" "$work/binfmt-qemu"
printf 'enabled\ninterpreter /usr/libexec/qemu-binfmt/i386-binfmt-P\nflags: POCF\noffset 0\nmagic 7f454c4601010100000000000000000002000300\nmask fffffffffffefe00fffffffffffffffffeffffff\n' \
  >"$work/binfmt-qemu/qemu-i386"
printf 'disabled\ninterpreter /usr/bin/qemu-i386-static\nflags: F\noffset 0\nmagic 7f454c4601010100000000000000000002000300\n' \
  >"$work/binfmt-none/qemu-i386"

expect "forced native" native "forced by QUN_RUNTIME=native" decide native
expect "forced wine" wine "forced by QUN_RUNTIME=wine" decide wine
expect "a value that is no path" "" "QUN_RUNTIME=auto is not a path" decide auto
expect "a kernel that refuses i386 programs" native "Exec format error" \
  probe_with "$work/foreign" "$work/binfmt-none"
expect "an emulator registered for i386 programs" native \
  "only through an emulator (/usr/libexec/qemu-binfmt/i386-binfmt-P)" \
  probe_with "$work/i386" "$work/binfmt-qemu"
# Where this machine runs the tiny program itself, a disabled emulator entry
# does not count.
if [ "$("$work/i386" >/dev/null 2>&1; echo $?)" = 42 ]; then
  expect "i386 programs run, emulator entry disabled" wine "" \
    probe_with "$work/i386" "$work/binfmt-none"
fi
[ "$failures" -eq 0 ] || exit 1
