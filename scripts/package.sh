#!/usr/bin/env bash
# Makes the release package: the Windows modules built for release in a
# folder of their own (build-release/), with SOURCE_DATE_EPOCH set to the
# commit's time (scripts/runtime.sh), and packed by cpack (cmake/package.cmake):
#   dist/MORDALIX-<version>-win32.zip   MORDALIX.DLL, INSTALL.txt, an annotated
#                                       initialisation file, SHA256SUMS of its
#                                       files, the card-traffic recorder and the
#                                       software card in folders of their own,
#                                       and the test tools in a folder marked
#                                       not for a live plant
#   dist/SHA256SUMS                     the zip's checksum, for sha256sum -c
# The cross build runs on every machine; Wine is needed only by --test.
#   --test   then run the package's own test (tests/package/package_test.sh):
#            under Wine, or where the native build runs on the same package
#            made of the native files (build-native/package/, no release)
# QUN_RELEASE_DIR and QUN_DIST_DIR name other folders (scripts/reproducible.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/runtime.sh"
test_package=0
for a in "$@"; do
  case "$a" in
    --test) test_package=1 ;;
    *) echo "usage: scripts/package.sh [--test]" >&2; exit 2 ;;
  esac
done
qun_decide_runtime
"$root/scripts/setup.sh"
qun_release_epoch
release=${QUN_RELEASE_DIR:-$root/build-release}
dist=${QUN_DIST_DIR:-$root/dist}
# The zip's DOS times are local times: UTC makes them the same everywhere.
# The folders and files that cpack stages get their modes through the umask.
export TZ=UTC
umask 022

if git -C "$root" rev-parse --git-dir >/dev/null 2>&1 &&
  [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
  echo "package: note: the working tree has uncommitted changes; the package holds them," \
    "it is not the release of commit $(git -C "$root" rev-parse --short HEAD)"
fi
echo "== release build in $release (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH," \
  "$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC'))"
# The software card links libmodbus, cross-built once into a cache.
libmodbus=$("$root/scripts/libmodbus-mingw.sh")
cmake -S "$root" -B "$release" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DQUN_LIBMODBUS_MINGW="$libmodbus" >/dev/null
cmake --build "$release" -j "$(nproc)" --target mordalix korvex applicom qunhost tap softcard

# cpack stages the install rules and zips them; the files' times come from
# SOURCE_DATE_EPOCH.
make_package() {  # build folder
  rm -rf "$1/package"
  (cd "$1" && cpack -B "$1/package" >"$1/cpack.log") || { cat "$1/cpack.log" >&2; exit 1; }
  ls "$1"/package/MORDALIX-*.zip
}
zip=$(make_package "$release")
name=$(basename "$zip")
mkdir -p "$dist"
rm -f "$dist"/MORDALIX-*-win32.zip "$dist/SHA256SUMS"
cp "$zip" "$dist/$name"
(cd "$dist" && sha256sum "$name" >SHA256SUMS)
echo "package: $dist/$name"
echo "package: $dist/SHA256SUMS: $(cat "$dist/SHA256SUMS")"

[ "$test_package" = 1 ] || exit 0
qun_confirm_wine
zips=("$dist/$name")
if [ "$QUN_RUNTIME" = native ]; then
  # The same package of the native files, for the run checks; the native
  # build is a test build, not a release, and keeps its own date.
  echo "== the same package of the native build's files, for the package test"
  (unset SOURCE_DATE_EPOCH && qun_build_native mordalix korvex applicom qunhost tap softcard >/dev/null &&
    make_package "$qun_native" >/dev/null)
  zips+=("$(ls "$qun_native"/package/MORDALIX-*.zip)")
fi
bash "$root/tests/package/package_test.sh" "${zips[@]}"
