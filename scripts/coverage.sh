#!/usr/bin/env bash
# Line and branch coverage of the driver, the recorder and the software card
# by the native build's test programs (every ctest test of that build): a
# build with gcc's --coverage in build-native-coverage/, the tests run there,
# then gcovr. Prints a table per folder and writes
#   build-native-coverage/coverage/index.html   the HTML report, file by file
#   build-native-coverage/coverage/never-run.txt the driver's lines no test runs
# Branches that only an exception takes, and those the compiler proves never
# taken, are left out. The dialog and the Win32 layers are built for Windows
# only and are not in these figures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/runtime.sh"
export QUN_RUNTIME=native
"$root/scripts/setup.sh" gcovr
dir=$root/build-native-coverage
out=$dir/coverage

flags="--coverage -O0"
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS=--coverage \
  -DCMAKE_SHARED_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$dir" -j "$(nproc)"
find "$dir" -name '*.gcda' -delete

echo "== the native test programs, counting"
status=0
(cd "$dir" && ctest --output-on-failure --timeout 900 -j "$qun_test_jobs") || status=$?

echo "== coverage"
rm -rf "$out" && mkdir -p "$out"
# Only the coverage build is searched: the tree holds other builds, and a
# Wine prefix whose drive z: leads to the whole file system.
gcovr --root "$root" --object-directory "$dir" \
  --filter "$root/driver/" --filter "$root/recorder/" --filter "$root/lab/card/softcard/" \
  --exclude-directories "$dir/CMakeFiles/[0-9].*" \
  --exclude-throw-branches --exclude-unreachable-branches \
  --json "$out/coverage.json" --html-details "$out/index.html" "$dir" >/dev/null

python3 - "$out" <<'PY'
import json, os, sys
out = sys.argv[1]
files = json.load(open(os.path.join(out, "coverage.json")))["files"]
folders = {}
never = []
for f in files:
    folder = os.path.dirname(f["file"])
    t = folders.setdefault(folder, [0, 0, 0, 0])
    for line in f["lines"]:
        if line.get("gcovr/noncode"):
            continue
        t[0] += 1
        t[1] += line["count"] > 0
        if line["count"] == 0 and folder.startswith("driver/"):
            never.append(f'{f["file"]}:{line["line_number"]}')
        for b in line["branches"]:
            t[2] += 1
            t[3] += b["count"] > 0

def pct(hit, total):
    return f"{100.0 * hit / total:5.1f} % ({hit}/{total})" if total else "    -"

print(f'{"folder":24} {"lines":>22} {"branches":>22}')
sums = [0, 0, 0, 0]
for folder in sorted(folders):
    lines, lhit, branches, bhit = folders[folder]
    sums = [a + b for a, b in zip(sums, folders[folder])]
    print(f"{folder:24} {pct(lhit, lines):>22} {pct(bhit, branches):>22}")
print(f'{"all":24} {pct(sums[1], sums[0]):>22} {pct(sums[3], sums[2]):>22}')
with open(os.path.join(out, "never-run.txt"), "w") as f:
    f.write("\n".join(never) + ("\n" if never else ""))
print(f"driver lines no test runs: {len(never)} (listed in {out}/never-run.txt)")
PY
echo "HTML report: $out/index.html"
if [ "$status" -ne 0 ]; then
  echo "coverage: some tests failed (above); the figures count what ran" >&2
fi
exit $status
