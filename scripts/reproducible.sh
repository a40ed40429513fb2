#!/usr/bin/env bash
# Checks that the release builds reproducibly. Makes the package as
# scripts/package.sh does (build-release/, dist/), then once more from a copy
# of the sources in another folder, later, under another time zone and
# umask, and compares the two: MORDALIX.DLL byte for byte, the checksums of
# every file in the zips (their SHA256SUMS), and the zips' listings (paths,
# sizes, modes, times). The zips' own bytes are compared and reported only:
# cpack (CMake 3.25) stores the files in the order the file system lists them
# and with the packing user's ids, so a zip packed elsewhere can differ while
# everything in it is the same.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/runtime.sh"
qun_decide_runtime
qun_release_epoch
release=${QUN_RELEASE_DIR:-$root/build-release}
dist=${QUN_DIST_DIR:-$root/dist}

echo "== first build: $release"
"$root/scripts/package.sh" >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/mordalix-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
copy=$work/sources-in-another-folder
mkdir -p "$copy"
# The sources as they are in the working tree: tracked and new files, not
# what .gitignore leaves out (build folders, dist/).
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
  tar --null -T - -cf -) | tar -xf - -C "$copy"
echo "== second build: $copy/build-release (time zone Pacific/Auckland, umask 027)"
start=$(date +%s)
(umask 027 && TZ=Pacific/Auckland QUN_RELEASE_DIR="$copy/build-release" QUN_DIST_DIR="$copy/dist" \
  bash "$copy/scripts/package.sh" >"$work/second.log" 2>&1) || {
  tail -n 40 "$work/second.log"
  echo "reproducible: the second build failed"
  exit 1
}
echo "second build: $(($(date +%s) - start)) s"

zip=$(ls "$dist"/MORDALIX-*-win32.zip)
name=$(basename "$zip")
second=$copy/dist/$name
listing() {  # zip: one line per entry, sorted by path, with mode, size and time
  (cd "$work" && cmake -E tar tvf "$1") | awk '{ print $NF, $1, $5, $6, $7, $8 }' | LC_ALL=C sort
}
sums() {  # zip, folder: the SHA256SUMS inside the zip
  mkdir -p "$2" && (cd "$2" && cmake -E tar xf "$1" && cat ./*/SHA256SUMS)
}
failed=0
if cmp -s "$release/bin/MORDALIX.DLL" "$copy/build-release/bin/MORDALIX.DLL"; then
  echo "MORDALIX.DLL: identical, sha256 $(sha256sum <"$release/bin/MORDALIX.DLL" | cut -c 1-64)"
else
  echo "MORDALIX.DLL: DIFFERENT: $(cmp "$release/bin/MORDALIX.DLL" "$copy/build-release/bin/MORDALIX.DLL" || true)"
  failed=1
fi
if diff <(sums "$zip" "$work/first") <(sums "$second" "$work/second") >"$work/sums.diff"; then
  echo "$name: the $(wc -l <"$work/first"/*/SHA256SUMS) files' checksums (its SHA256SUMS) identical"
else
  echo "$name: DIFFERENT checksums:"
  cat "$work/sums.diff"
  failed=1
fi
if diff <(listing "$zip") <(listing "$second") >"$work/listing.diff"; then
  echo "$name: the same paths, sizes, modes and times"
else
  echo "$name: DIFFERENT entries:"
  cat "$work/listing.diff"
  failed=1
fi
if cmp -s "$zip" "$second"; then
  echo "$name: the zip's bytes are identical too"
else
  echo "$name: the zip's bytes differ (file order or owner ids of the packing machine): not a failure"
fi
if [ "$failed" = 1 ]; then
  echo "reproducible: FAILED"
  exit 1
fi
echo "reproducible: OK"
