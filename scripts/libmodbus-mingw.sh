#!/usr/bin/env bash
# Cross-builds libmodbus for 32-bit Windows (static, i686-w64-mingw32) from
# Debian's own source package, for the software card's APPLICOM.dll.
#
# The result is kept in a cache outside the build folder and reused:
#   ${QUN_CACHE_DIR:-~/.cache/mordalix}/libmodbus-i686-w64-mingw32/{include,lib}
# The script prints that folder as its last line. Running it again does nothing
# once the library is there.
#
# It needs a deb-src entry for apt-get source: when the machine has none, one
# is added for the same archive as its deb entries.
set -euo pipefail
cache=${QUN_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/mordalix}
prefix=$cache/libmodbus-i686-w64-mingw32
host=i686-w64-mingw32

say() { echo "libmodbus-mingw: $*" >&2; }

if [ -f "$prefix/lib/libmodbus.a" ] && [ -f "$prefix/include/modbus/modbus.h" ] &&
  [ -f "$prefix/source-version" ]; then
  say "using $prefix (libmodbus $(cat "$prefix/source-version"))"
  echo "$prefix"
  exit 0
fi

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
if [ ! -x configure ]; then
  say "generating configure (autoreconf)"
  autoreconf -fi >"$work/autoreconf.log" 2>&1
fi
say "configuring libmodbus $version for $host (static, no documentation, no tests)"
./configure --host="$host" --prefix="$prefix" --enable-static --disable-shared \
  --without-documentation --disable-tests \
  CC="$host-gcc-posix" AR="$host-ar" RANLIB="$host-ranlib" CFLAGS="-O2" \
  >"$work/configure.log" 2>&1 || {
  tail -n 40 "$work/configure.log" >&2
  exit 1
}
say "building and installing into $prefix"
make -j2 >"$work/make.log" 2>&1 || { tail -n 40 "$work/make.log" >&2; exit 1; }
rm -rf "$prefix"
make install >"$work/install.log" 2>&1 || { tail -n 40 "$work/install.log" >&2; exit 1; }
echo "$version" >"$prefix/source-version"
cd /
rm -rf "$work"
say "libmodbus $version ready in $prefix"
echo "$prefix"
