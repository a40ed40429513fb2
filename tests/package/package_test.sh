#!/usr/bin/env bash
# The release package's own test. Each zip given is unpacked into an empty
# folder and checked as a plant and a lab receive it: exactly the files
# promised, every checksum in its SHA256SUMS right, the version of
# CMakeLists.txt in the zip's name, the install notes, the module's version
# resource and the README, the example initialisation file read by the
# driver as it says, and in the Windows package the libmodbus DLL beside the
# software card (which imports it) with its licence and source note. Then the test tools run from the unpacked folder:
# qunhost --version, --info and the example plant, under Wine for the Windows
# package, natively for a package of the native build; and the software card
# from the unpacked package reads its example settings and runs the Modbus
# example plant (examples/modbus/) against pymodbus's server.
#   tests/package/package_test.sh ZIP...     (scripts/package.sh --test)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/runtime.sh"
qun_decide_runtime >/dev/null
[ $# -gt 0 ] || { echo "usage: tests/package/package_test.sh ZIP..." >&2; exit 2; }

version=$(sed -n 's/^project(mordalix VERSION \([0-9][0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "package test: no project version in CMakeLists.txt" >&2; exit 2; }
tools=test-tools-NOT-FOR-A-LIVE-PLANT
softcard=software-card
# The Windows package's libmodbus, as scripts/libmodbus-mingw.sh builds it.
libmodbus_dll=libmodbus-5.dll
work=$(mktemp -d "${TMPDIR:-/tmp}/mordalix-package-test.XXXXXX")
used_wine=0
cleanup() {
  rm -rf "$work"
  # The Wine prefix's server was started to stay; end it as the demo does.
  if [ "$used_wine" = 1 ]; then wineserver -k </dev/null >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT
failures=0
fail() {
  echo "package test: FAILED: $*"
  failures=$((failures + 1))
}

check_zip() {  # zip
  local zip=$1 name system top unpacked expected listed before=$failures
  name=$(basename "$zip" .zip)
  system=${name#MORDALIX-"$version"-}
  if [ "$system" = "$name" ]; then
    fail "$name: the name does not carry the project's version $version"
    return
  fi
  local driver host korvex applicom libmodbus=() notes=()
  if [ "$system" = win32 ]; then
    driver=MORDALIX.DLL host=qunhost.exe korvex=KORVEX.dll applicom=APPLICOM.dll
    # libmodbus beside the software card, which a plant may replace.
    libmodbus=("$softcard/$libmodbus_dll" "$softcard/LIBMODBUS-SOURCE.txt"
      "$softcard/LIBMODBUS-COPYING.LESSER.txt")
    notes=("$softcard/LIBMODBUS-SOURCE.txt")
  else
    driver=libMORDALIX.so host=qunhost korvex=libKORVEX.so applicom=libAPPLICOM.so
  fi
  unpacked=$work/$system
  mkdir "$unpacked"
  (cd "$unpacked" && cmake -E tar xf "$zip")
  top=$unpacked/$name
  [ -d "$top" ] || { fail "$name: no folder $name in the zip"; return; }
  if [ "$system" = win32 ]; then
    # libmodbus's source package beside it: the .dsc and every file it names,
    # with the checksums it gives.
    local dsc sources=$top/$softcard/libmodbus-source
    dsc=$(cd "$sources" 2>/dev/null && ls libmodbus_*.dsc 2>/dev/null | head -n 1)
    if [ -z "$dsc" ]; then
      fail "$name: no libmodbus source package (.dsc) in $softcard/libmodbus-source"
    else
      libmodbus+=("$softcard/libmodbus-source/$dsc")
      local sums
      sums=$(awk '/^Checksums-Sha256:/ {on = 1; next} /^[^ ]/ {on = 0} on && NF == 3 {print $1 "  " $3}' \
        "$sources/$dsc")
      [ -n "$sums" ] || fail "$name: $dsc names no files"
      while read -r _ file; do libmodbus+=("$softcard/libmodbus-source/$file"); done <<<"$sums"
      (cd "$sources" && sha256sum --quiet -c <<<"$sums" 2>&1) ||
        fail "$name: the libmodbus source package's files do not match its .dsc"
    fi
  fi

  expected=$(printf '%s\n' INSTALL.txt "$driver" SHA256SUMS qunDOZ01.INT.example \
    "$tools/$driver" "$tools/$host" "$tools/$korvex" "$tools/$applicom" \
    "$tools/NOT-FOR-A-LIVE-PLANT.txt" "$tools/plant/plant.scn" "$tools/plant/mistakes.scn" \
    "$tools/plant/qunDOZ01.INT" "card-traffic-recorder/$applicom" \
    "card-traffic-recorder/cardtap.ini.example" "$softcard/$applicom" \
    "$softcard/softcard.ini.example" "${libmodbus[@]}" | LC_ALL=C sort)
  listed=$(cd "$unpacked" && find . -type f | sed "s|^\./$name/||" | LC_ALL=C sort)
  [ "$listed" = "$expected" ] || fail "$name: files differ from the promised ones:
$(diff <(echo "$expected") <(echo "$listed") || true)"

  # Every file but SHA256SUMS itself has its right checksum there.
  (cd "$top" && sha256sum --quiet -c SHA256SUMS 2>&1) || fail "$name: a checksum in SHA256SUMS is wrong"
  [ "$(cut -c 67- "$top/SHA256SUMS" | LC_ALL=C sort)" = "$(grep -vx SHA256SUMS <<<"$expected")" ] ||
    fail "$name: SHA256SUMS does not list exactly the package's files"
  cmp -s "$top/$driver" "$top/$tools/$driver" || fail "$name: the test tools' $driver is another module"

  # One version everywhere; no placeholder left in the texts.
  head -n 1 "$top/INSTALL.txt" | grep -q "^MORDALIX.DLL $version: " ||
    fail "$name: INSTALL.txt does not begin with version $version"
  if grep -l '@[A-Z_]*@' "$top"/*.txt "$top/$tools"/*.txt "$top/qunDOZ01.INT.example" \
    "$top/$softcard/softcard.ini.example" "${notes[@]/#/$top/}"; then
    fail "$name: a placeholder is left in the texts above"
  fi
  if [ "$system" = win32 ]; then
    # The version resource's strings are UTF-16: FileVersion and ProductVersion.
    [ "$(strings -el "$top/$driver" | grep -cx "$version")" -ge 2 ] ||
      fail "$name: the module's version resource does not carry $version"
    [ "$(strings -el "$top/$softcard/$applicom" | grep -cx "$version")" -ge 2 ] ||
      fail "$name: the software card's version resource does not carry $version"
    grep -q "MORDALIX-$version-win32.zip" "$root/README.md" ||
      fail "README.md does not name the package of version $version (MORDALIX-$version-win32.zip)"
    if grep -qv $'\r$' "$top/INSTALL.txt"; then fail "$name: INSTALL.txt has lines without CR LF"; fi
    # The card imports the libmodbus DLL shipped beside it, and that DLL only
    # Windows's own ones; the note names the source it was built from.
    imports() { i686-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p'; }
    imports "$top/$softcard/$applicom" | grep -ix "$libmodbus_dll" >/dev/null ||
      fail "$name: the software card does not import $libmodbus_dll"
    local others
    others=$(imports "$top/$softcard/$libmodbus_dll" |
      grep -viEx '(kernel32|msvcrt|ws2_32|wsock32)\.dll' || true)
    [ -z "$others" ] || fail "$name: $libmodbus_dll needs DLLs that Windows does not have: $others"
    grep -Eq $'apt-get source libmodbus=[0-9][^ ]*\r$' "$top/$softcard/LIBMODBUS-SOURCE.txt" ||
      fail "$name: LIBMODBUS-SOURCE.txt does not name the source package the DLL was built from"
  fi
  if [ "$failures" = "$before" ]; then
    echo "package test: $name: $(wc -l <<<"$expected") files as promised, checksums right, version $version"
  fi
}

run_tools() {  # system
  local system=$1 top out status cold_start run=(./qunhost) before=$failures
  if [ "$system" = win32 ]; then run=(wine ./qunhost.exe); fi
  top=$work/$system/MORDALIX-$version-$system
  [ -d "$top/$tools" ] || { fail "$system: no test tools to run"; return 0; }
  cd "$top/$tools"
  out=$work/$system.out

  status=0
  timeout 120 "${run[@]}" --version >"$out" 2>&1 </dev/null || status=$?
  [ "$status" = 0 ] && [ "$(tr -d '\r' <"$out")" = "qunhost $version" ] ||
    fail "$system: qunhost --version gave status $status: $(cat "$out")"

  status=0
  timeout 120 "${run[@]}" --info >"$out" 2>&1 </dev/null || status=$?
  [ "$status" = 0 ] && grep -q "^record code      82" "$out" ||
    fail "$system: qunhost --info gave status $status: $(cat "$out")"
  # The install notes give the host the state block's size that the Windows
  # module reports (natively, handles of 64 bits make it larger).
  local size
  size=$(sed -n 's/^state block *\([0-9]*\) bytes.*/\1/p' "$out")
  if [ "$system" = win32 ] && ! grep -q "reports ($size bytes)" "$top/INSTALL.txt"; then
    fail "$system: INSTALL.txt does not give the state block's size, $size bytes"
  fi

  # The example initialisation file, under its instance's name, changes
  # nothing and is read line by line as it explains.
  mkdir "$work/example-ini-$system"
  cp "$top/qunDOZ01.INT.example" "$work/example-ini-$system/qunDOZ01.INT"
  printf 'instance 1\nsingle Level 0_1_W_0 u16\n' >"$work/example-ini-$system/check.scn"
  status=0
  timeout 120 "${run[@]}" --check --plain "$work/example-ini-$system/check.scn" >"$out" 2>&1 \
    </dev/null || status=$?
  [ "$status" = 0 ] || fail "$system: --check with the example initialisation file gave status $status"
  local said
  said=$(grep -o 'RIREVI: \(ReadIntFile\|Set clear\|First CYC\|Balance Free\|ColdStart() Warning\).*' \
    "$out" | tr -d '\r')
  [ "$said" = "RIREVI: ReadIntFile() Retry number is set to 3
RIREVI: Set clear Cyclic to ON
RIREVI: First CYC number set to 0
RIREVI: Balance Free mechanism is activated" ] ||
    fail "$system: the example initialisation file is not read as it says:
$said"

  status=0
  timeout 300 "${run[@]}" --plain plant/plant.scn >"$out" 2>&1 </dev/null || status=$?
  if [ "$status" != 0 ] || [ "$(tail -n 1 "$out" | tr -d '\r')" != "result: OK" ]; then
    tail -n 30 "$out"
    fail "$system: the example plant gave status $status"
  fi
  # A release's cold start names the time that its install notes give.
  cold_start=$(grep -o 'RIREVI: ColdStart() version compiled on .*' "$top/INSTALL.txt" | tr -d '\r')
  if [[ "$cold_start" != *"<date>"* ]]; then
    grep -qF "[32] $cold_start" "$out" ||
      fail "$system: the cold start does not log the install notes' line '$cold_start'"
  fi
  if [ "$failures" = "$before" ]; then
    echo "package test: $system: qunhost --version, --info, the example initialisation file and" \
      "the example plant ran from the unpacked folder"
  fi
  cd "$root"
}

# The software card from the unpacked package, in a folder with the driver
# and the host library: its example settings read at the cold start, then the
# Modbus example plant against pymodbus's server with the plant's image.
run_software_card() {  # system
  local system=$1 top folder out status run=(./qunhost) before=$failures peer=
  local driver=libMORDALIX.so korvex=libKORVEX.so applicom=libAPPLICOM.so
  if [ "$system" = win32 ]; then
    run=(wine ./qunhost.exe) driver=MORDALIX.DLL korvex=KORVEX.dll applicom=APPLICOM.dll
  fi
  top=$work/$system/MORDALIX-$version-$system
  [ -f "$top/$softcard/$applicom" ] || { fail "$system: no software card to run"; return 0; }
  folder=$work/softcard-$system
  mkdir -p "$folder/plant"
  cp "$top/$driver" "$top/$tools/$korvex" "$top/$softcard/$applicom" "$folder/"
  if [ "$system" = win32 ]; then cp "$top/$softcard/$libmodbus_dll" "$folder/"; fi
  cp "$top/$softcard/softcard.ini.example" "$folder/softcard.ini"
  out=$work/softcard-$system.out
  cd "$top/$tools"

  printf 'instance 1\nsingle Level 0_1_W_0 u16\n' >"$folder/plant/check.scn"
  status=0
  timeout 120 "${run[@]}" --driver "$folder/$driver" --check --plain "$folder/plant/check.scn" \
    >"$out" 2>&1 </dev/null || status=$?
  [ "$status" = 0 ] && grep -q "softcard: .*softcard.ini: 2 equipment(s) over Modbus TCP" "$out" &&
    ! grep -q "initbus error" "$out" ||
    fail "$system: the software card did not open with its example settings (status $status):
$(tail -n 20 "$out")"

  # The plant's device on a free port, named in the settings.
  /usr/bin/python3 "$root/lab/card/softcard/modbus_peer.py" --port 0 --unit 1 \
    --image "$root/examples/modbus/plant-image.txt" --ready "$folder/peer-ready" &
  peer=$!
  for _ in $(seq 100); do [ -s "$folder/peer-ready" ] && break; sleep 0.1; done
  sed -E "s/^port *=.*/port = $(cat "$folder/peer-ready" 2>/dev/null)/" \
    "$root/examples/modbus/softcard.ini" >"$folder/softcard.ini"
  cp "$root/examples/modbus/plant.scn" "$root/examples/modbus/qunDOZ01.INT" "$folder/plant/"
  status=0
  timeout 300 "${run[@]}" --driver "$folder/$driver" --plain "$folder/plant/plant.scn" >"$out" 2>&1 \
    </dev/null || status=$?
  kill "$peer" 2>/dev/null || true
  wait "$peer" 2>/dev/null || true
  if [ "$status" != 0 ] || [ "$(tail -n 1 "$out" | tr -d '\r')" != "result: OK" ] ||
    ! grep -q "^  softcard    1 device: 1 connected, 0 away; " "$out"; then
    tail -n 30 "$out"
    fail "$system: the Modbus example plant through the software card gave status $status"
  fi
  if [ "$failures" = "$before" ]; then
    echo "package test: $system: the software card read its example settings and ran the" \
      "Modbus example plant from the unpacked folder"
  fi
  cd "$root"
}

ran=0
for zip in "$@"; do
  zip=$(cd "$(dirname "$zip")" && pwd)/$(basename "$zip")
  check_zip "$zip"
  system=$(basename "$zip" .zip)
  system=${system#MORDALIX-"$version"-}
  if [ "$system" = win32 ] && [ "$QUN_RUNTIME" = wine ]; then
    mkdir -p "$qun_build"
    source "$root/scripts/wine-env.sh"
    used_wine=1
    run_tools win32
    run_software_card win32
    ran=1
  elif [ "$system" != win32 ] && [ "$QUN_RUNTIME" = native ]; then
    run_tools "$system"
    run_software_card "$system"
    ran=1
  fi
done
[ "$ran" = 1 ] || fail "no package given that this machine runs ($QUN_RUNTIME)"
if [ "$failures" -gt 0 ]; then
  echo "package test: $failures failures"
  exit 1
fi
echo "package test: OK"
