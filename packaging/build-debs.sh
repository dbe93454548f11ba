#!/usr/bin/env bash
# Builds the Debian packages from a finished CMake build tree, without
# compiling anything again:
#
#   packaging/build-debs.sh BUILD_DIR OUT_DIR
#
# libpzsovmax1, pzhost and pzsovmax-simulator and their -dbgsym packages
# land in OUT_DIR. The packaging is packaging/debian, run by
# dpkg-buildpackage (debhelper) in a scratch source folder under BUILD_DIR.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR OUT_DIR" >&2; exit 2; }
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
out=$2

version=$(dpkg-parsechangelog -l "$src/packaging/debian/changelog" -S Version)
built=$("$build/pzhost/pzhost" --version | awk '{print $2}')
if [ "$built" != "$version" ]; then
  echo "packaging/debian/changelog is at $version, the build tree at $built:" \
       "add a changelog entry for $built" >&2
  exit 1
fi

work=$build/deb
tree=$work/pzsovmax-$version
rm -rf "$work"
mkdir -p "$tree"
cp -r "$src/packaging/debian" "$tree/debian"
cp "$src/packaging/logrotate/pzhost" "$tree/debian/pzhost.logrotate"
(cd "$tree" && PZ_BUILD_DIR=$build dpkg-buildpackage --build=binary --no-sign \
   --no-check-builddeps --no-pre-clean)
mkdir -p "$out"
rm -f "$out"/*.deb
mv "$work"/*.deb "$out"/
ls -l "$out"
