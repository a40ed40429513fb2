#!/usr/bin/env bash
# The charting library of qunhost's trace report, kept in the repository in
# lab/qunhost/trace_page/uplot/ (the build and the tests never reach a registry).
#
#   bash scripts/uplot.sh          checks the kept files against VERSION
#   bash scripts/uplot.sh fetch    fetches the pinned version from the npm
#                                  registry, checks the tarball's integrity and
#                                  puts its files in place (then check VERSION's
#                                  sha256 lines, and commit)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
folder=$root/lab/qunhost/trace_page/uplot
version=$(sed -n 's/^uplot \([0-9.]*\) .*/\1/p' "$folder/VERSION")
integrity=$(sed -n 's/^integrity *//p' "$folder/VERSION")

if [ "${1:-}" = fetch ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && npm pack --silent "uplot@$version" >/dev/null)
  tarball=$work/uplot-$version.tgz
  actual="sha512-$(openssl dgst -sha512 -binary "$tarball" | base64 -w0)"
  if [ "$actual" != "$integrity" ]; then
    echo "uplot: the registry's uplot-$version.tgz is not the one pinned ($actual)" >&2
    exit 1
  fi
  tar -xzf "$tarball" -C "$work"
  cp "$work/package/dist/uPlot.iife.min.js" "$work/package/dist/uPlot.min.css" \
    "$work/package/LICENSE" "$folder/"
fi

cd "$folder"
sed -n 's/^sha256 *//p' VERSION | sha256sum --check --quiet
echo "uplot: $version, the kept files match VERSION"
