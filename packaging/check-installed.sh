#!/usr/bin/env bash
# Installs the built packages with dpkg, checks the installed programs with
# the build tree moved out of reach, then purges the packages again (also
# when a check fails). Needs root; refuses when the packages are installed
# already, so that it never replaces or removes an operator's installation.
#
#   packaging/check-installed.sh DEBS_DIR BUILD_DIR
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 DEBS_DIR BUILD_DIR" >&2; exit 2; }
debs=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
packages=(pzhost pzsovmax-simulator libpzsovmax1)
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    echo "$p is installed already: not touching it" >&2
    exit 1
  fi
done

scratch=$(mktemp -d /tmp/pz-installed-XXXXXX)
hidden=$build.out-of-reach
failures=0
passes=0
cleanup() {
  dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true
  [ -d "$hidden" ] && mv "$hidden" "$build"
  rm -rf "$scratch"
}
trap cleanup EXIT
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@" >"$scratch/out" 2>&1; then
    echo "ok   $what"
    passes=$((passes + 1))
  else
    echo "FAIL $what"
    sed 's/^/     /' "$scratch/out" | tail -20
    failures=$((failures + 1))
  fi
}

dpkg -i "$debs"/libpzsovmax1_*.deb "$debs"/pzhost_[0-9]*.deb \
        "$debs"/pzsovmax-simulator_[0-9]*.deb >/dev/null
mv "$build" "$hidden"
cd "$scratch"
# Nothing of the caller's environment: the installed programs alone.
clean="env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=$scratch TMPDIR=$scratch"

version=$(dpkg-query -W -f='${Version}' pzhost)
for prog in pzhost pzarray symsim; do
  check "$prog --version" bash -c "[ \"\$($clean $prog --version)\" = '$prog $version' ]"
  check "man $prog" bash -c "zcat /usr/share/man/man1/$prog.1.gz | grep -q '^.SH DESCRIPTION'"
  check "bash completion of $prog" test -s "/usr/share/bash-completion/completions/$prog"
done
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
libdir=/usr/lib/$multiarch
check "pzhost uses the installed runtime" bash -c \
  "[ \"\$(readlink -f \"\$(ldd /usr/bin/pzhost | awk '/libpzhostrt.so.1 =>/ {print \$3}')\")\" = \
     \"\$(readlink -f $libdir/libpzhostrt.so.1)\" ]"
check "pzhost starts without libpq (loaded only by a PostgreSQL home)" bash -c \
  "! ldd /usr/bin/pzhost | grep -q libpq && ldd $libdir/libpzhostrt_pg.so.1 | grep -q libpq"
check "the binaries are stripped" bash -c \
  "! file -L /usr/bin/pzhost /usr/bin/pzarray /usr/bin/symsim /usr/libexec/symsim/symsim-tool \
     $libdir/libPZSOVMAX.so.1 $libdir/libpzhostrt.so.1 $libdir/libpzhostrt_pg.so.1 | \
     grep 'not stripped'"
check "pzhost demo" bash -c "$clean pzhost demo --keep $scratch/demo >demo.txt 2>&1 || \
  { tail -30 demo.txt; exit 1; }; grep -q 'demo finished: every step did what it should' demo.txt"
check "the demo's world runs the installed symsim-tool" bash -c \
  "[ \"\$(readlink -f $scratch/demo/world/bin/symsnapvx)\" = /usr/libexec/symsim/symsim-tool ]"
check "pzhost loads the installed plug-in" bash -c \
  "$clean pzhost --home $scratch/demo/home version | grep -q '^$libdir/libPZSOVMAX.so.1 '"

# The packaged log rotation, pointed at the demo's home: the logs are moved
# away, and the next line written makes a new log of mode 0600.
home=$scratch/demo/home
if command -v logrotate >/dev/null; then
  sed "s|/var/lib/pzhost|$home|g" /etc/logrotate.d/pzhost >"$scratch/logrotate.conf"
  check "logrotate rotates the home's logs" bash -c \
    "[ -s '$home/logs/request.log' ] && logrotate -f -s '$scratch/logrotate.state' '$scratch/logrotate.conf' && \
     [ -s '$home/logs/request.log.1' ] && [ ! -e '$home/logs/request.log' ]"
  # A backup of the demo host's first device writes the next lines.
  device=$($clean pzhost --home "$home" --json devices | grep -o '"path": "[^"]*"' | head -1 |
           cut -d'"' -f4 || true)
  $clean pzhost --home "$home" backup "$device" >/dev/null 2>&1 || true
  check "a rotated log is made anew, mode 0600" bash -c \
    "[ \"\$(stat -c %a '$home/logs/request.log')\" = 600 ]"
else
  echo "skip logrotate (not installed)"
fi

check "the packages purge cleanly" dpkg --purge "${packages[@]}"
check "nothing of theirs is left" bash -c \
  "[ ! -e /usr/bin/pzhost ] && [ ! -e /etc/logrotate.d/pzhost ] && [ ! -e /usr/libexec/symsim ]"
echo "packages: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
