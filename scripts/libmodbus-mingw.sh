#!/usr/bin/env bash
# Cross-builds libmodbus for 32-bit Windows (i686-w64-mingw32) from Debian's
# own source package, for the software card's APPLICOM.dll. The card links
# it as a DLL of its own (bin/libmodbus-5.dll, import library
# lib/libmodbus.dll.a) that ships beside it with its licence, so that a plant
# may replace the library with its own build (LGPL-2.1-or-later).
#
# The result is kept in a cache outside the build folders and reused:
#   ${QUN_CACHE_DIR:-~/.cache/mordalix}/libmodbus-i686-w64-mingw32/
#     bin/ lib/ include/   the DLL, its import library and the static archive
#     COPYING.LESSER       the licence, from the source package
#     source-version       the Debian source package's version
#     build-commands       how it was configured and built
#     source/              the source package's files (.dsc and its tarballs),
#                          shipped with the DLL
#     cache-layout         what this script puts there; another layout
#                          (an older cache) is built again
# The script prints that folder as its last line. Running it again does nothing
# once the library is there. The cache is shared by every checkout of the
# machine: a build is finished in a folder of its own and then put in place,
# under a lock, so that no other build sees half a library.
#
# The static archive is kept beside the DLL for checkouts that still link it.
# The DLL is built without a time stamp and the build's folder, so that the
# same source package gives the same bytes on every machine.
#
# It needs a deb-src entry for apt-get source: when the machine has none, one
# is added for the same archive as its deb entries.
set -euo pipefail
cache=${QUN_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/mordalix}
prefix=$cache/libmodbus-i686-w64-mingw32
host=i686-w64-mingw32
layout="2 shared"

say() { echo "libmodbus-mingw: $*" >&2; }

ready() {
  [ "$(cat "$prefix/cache-layout" 2>/dev/null)" = "$layout" ] &&
    ls "$prefix"/bin/libmodbus*.dll >/dev/null 2>&1 && [ -f "$prefix/lib/libmodbus.dll.a" ] &&
    [ -f "$prefix/include/modbus/modbus.h" ] && [ -f "$prefix/COPYING.LESSER" ] &&
    [ -f "$prefix/source-version" ] && [ -f "$prefix/build-commands" ] &&
    ls "$prefix"/source/libmodbus_*.dsc >/dev/null 2>&1
}

use_cache() {
  say "using $prefix (libmodbus $(cat "$prefix/source-version"))"
  echo "$prefix"
  exit 0
}

if ready; then use_cache; fi
mkdir -p "$cache"
exec 9>"$cache/libmodbus-i686-w64-mingw32.lock"
flock 9
if ready; then use_cache; fi  # another checkout built it meanwhile

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

has_deb_src() {
  grep -Eqs '^[[:space:]]*Types:.*deb-src' /etc/apt/sources.list.d/*.sources ||
    grep -Eqs '^[[:space:]]*deb-src[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list
}

if ! has_deb_src; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    say "adding /etc/apt/sources.list.d/debian-src.sources (deb-src of the archive in debian.sources)"
    sed -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    say "adding /etc/apt/sources.list.d/debian-src.list (deb-src of the lines in sources.list)"
    sed -nE 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list |
      "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/debian-src.list >/dev/null
  else
    say "no apt sources found to derive a deb-src entry from"
    exit 1
  fi
  say "apt-get update"
  "${sudo_cmd[@]}" apt-get update -q >/dev/null
fi

work=$cache/libmodbus-source
rm -rf "$work"
mkdir -p "$work"
say "fetching Debian's source package into $work"
(cd "$work" && apt-get source -q libmodbus >"$work/apt-source.log" 2>&1) || {
  cat "$work/apt-source.log" >&2
  say "apt-get source libmodbus failed (is dpkg-dev installed? scripts/setup.sh installs it)"
  exit 1
}
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libmodbus-*' | head -n 1)
version=$(sed -nE 's/^Version:[[:space:]]*//p' "$work"/libmodbus_*.dsc | head -n 1)
[ -n "$src" ] || { say "no unpacked source in $work"; exit 1; }

cd "$src"
steps=()
# Whatever the build stamps takes the source package's own date.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -STimestamp)
export SOURCE_DATE_EPOCH
if [ ! -x configure ]; then
  say "generating configure (autoreconf)"
  autoreconf -fi >"$work/autoreconf.log" 2>&1
  steps+=("autoreconf -fi")
fi
# A plain C library needs no libgcc DLL: linked statically, the DLL imports
# only Windows's own libraries. LDFLAGS go through libtool, which keeps -Wl,
# options and the -static-* ones.
options=(--host="$host" --enable-shared --enable-static --without-documentation --disable-tests
  CC="$host-gcc-posix" AR="$host-ar" RANLIB="$host-ranlib" CFLAGS="-O2 -ffile-prefix-map=$src/="
  LDFLAGS="-Wl,--no-insert-timestamp -static-libgcc")
say "configuring libmodbus $version for $host (DLL and static archive, no documentation, no tests)"
./configure --prefix="$prefix" "${options[@]}" >"$work/configure.log" 2>&1 || {
  tail -n 40 "$work/configure.log" >&2
  exit 1
}
say "building"
make -j2 >"$work/make.log" 2>&1 || { tail -n 40 "$work/make.log" >&2; exit 1; }
staging=$work/staging
make install DESTDIR="$staging" >"$work/install.log" 2>&1 || {
  tail -n 40 "$work/install.log" >&2
  exit 1
}
built=$staging$prefix
cp COPYING.LESSER "$built/COPYING.LESSER"
# The source package's own files go with the DLL (the licence wants its
# source beside the library we hand out): 111 kB.
mkdir "$built/source"
cp "$work"/libmodbus_*.dsc "$work"/libmodbus_*.tar.* "$built/source/"
echo "$version" >"$built/source-version"
# As a reader would type them in the unpacked source, with a prefix of their own.
steps+=("./configure --prefix=<folder> ${options[*]@Q}" "make" "make install")
printf '%s\n' "${steps[@]}" | sed "s|$src/|<source folder>/|" >"$built/build-commands"
echo "$layout" >"$built/cache-layout"
say "putting it in place: $prefix"
rm -rf "$prefix.old"
if [ -e "$prefix" ]; then mv "$prefix" "$prefix.old"; fi
mv "$built" "$prefix"
rm -rf "$prefix.old"
cd /
rm -rf "$work"
say "libmodbus $version ready in $prefix"
echo "$prefix"
