#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Cross-builds Net-SNMP's libraries and a small snmpd (dlmod built in) from
# Debian's own source package, for targets that have no Debian sysroot
# (32-bit MIPS and PowerPC big-endian) and for musl (x86_64-linux-musl, built
# with musl-gcc), and installs them under SYSROOT/usr.
# Usage: netsnmp-from-source.sh TRIPLE SYSROOT
# Cached: does nothing when SYSROOT already holds this version for TRIPLE.
set -euo pipefail
triple=$1
sysroot=$2
cache=${QV_CROSS_CACHE:-/var/cache/qv-wlan-snmp}
jobs=${QV_CROSS_JOBS:-2}

version=$(apt-cache showsrc net-snmp 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -1)
[ -n "$version" ] || { echo "netsnmp-from-source: no deb-src for net-snmp (run scripts/install-deps.sh)" >&2; exit 1; }
stamp="$sysroot/.qv-net-snmp-$version-$triple"
[ -e "$stamp" ] && exit 0

# The Debian source package, downloaded once and kept.
src_cache="$cache/src/net-snmp-$version"
if [ ! -e "$src_cache/.complete" ]; then
  rm -rf "$src_cache"; mkdir -p "$src_cache"
  (cd "$src_cache" && apt-get source --download-only -q "net-snmp=$version" >/dev/null)
  touch "$src_cache/.complete"
fi

work="$cache/work/net-snmp-$triple"
rm -rf "$work"; mkdir -p "$work"
dpkg-source --no-check -x "$src_cache"/net-snmp_*.dsc "$work/src" >/dev/null

case "$triple" in
  mips-linux-gnu|powerpc-linux-gnu|s390x-linux-gnu) endianness=big ;;
  *) endianness=little ;;
esac
host=$triple cc=$triple-gcc ldflags=
if [ "$triple" = x86_64-linux-musl ]; then
  # The build machine's processor (Net-SNMP's config.sub does not know musl
  # triples); runs there from the sysroot, its libraries found by run path.
  host=$(gcc -dumpmachine) cc=musl-gcc ldflags="-Wl,-rpath,$sysroot/usr/lib"
fi

cd "$work/src"
# A mini agent is enough: the agent and helper libraries, and snmpd with dlmod.
./configure -q --host="$host" --build="$(gcc -dumpmachine)" \
  --prefix=/usr --libdir=/usr/lib --sysconfdir=/etc --localstatedir=/var \
  --with-endianness="$endianness" --enable-mini-agent --with-mib-modules=ucd-snmp/dlmod \
  --without-openssl --disable-applications --disable-manuals --disable-scripts --disable-mibs \
  --disable-embedded-perl --without-perl-modules --with-transports=UDP --with-defaults \
  --disable-static --with-persistent-directory=/var/lib/snmp \
  CC="$cc" LDFLAGS="$ldflags" >"$work/configure.log" 2>&1 \
  || { tail -40 "$work/configure.log" >&2; exit 1; }
make -j"$jobs" >"$work/make.log" 2>&1 || { tail -40 "$work/make.log" >&2; exit 1; }
mkdir -p "$sysroot"
make install DESTDIR="$sysroot" >"$work/install.log" 2>&1 || { tail -40 "$work/install.log" >&2; exit 1; }
rm -rf "$work"
touch "$stamp"
