#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Makes (once) the target root file system that a cross-build compiles
# against and that user-mode QEMU runs from, and prints its path.
# Usage: sysroot.sh ARCH      ARCH: s390x | arm64 | armhf | mipsel | mips | powerpc | musl
#
# s390x, arm64, armhf, mipsel: Debian has the port, so the sysroot is Debian's own packages
#   (libc, libstdc++, Net-SNMP's libraries, headers and snmpd, GoogleTest,
#   the JSON library of the simulated data source),
#   unpacked by mmdebstrap.
# mips, powerpc (32-bit big-endian): no Debian port in bookworm. libc and
#   libstdc++ come from Debian's cross packages under /usr/<triple>; Net-SNMP
#   (with snmpd) is cross-built from Debian's source package and GoogleTest
#   from Debian's googletest sources, both installed into the sysroot's /usr;
#   the header-only JSON library is Debian's package, unpacked.
# musl: Net-SNMP (with snmpd) built from Debian's source package with
#   musl-gcc, for the build machine's own processor; nothing else (the
#   simulated data source and the unit tests need a C++ library musl lacks).
#
# Sysroots live in $QV_CROSS_CACHE (default /var/cache/qv-wlan-snmp), outside
# the tree; a complete one carries a stamp and is reused as is.
set -euo pipefail
arch=${1:?usage: sysroot.sh ARCH}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/arch.sh"
qv_arch "$arch"
cache=${QV_CROSS_CACHE:-/var/cache/qv-wlan-snmp}
dir="$cache/sysroot-$arch"
# What goes in; a change makes a new sysroot.
port_packages=snmpd,libsnmp-dev,libgtest-dev,libstdc++6,nlohmann-json3-dev
stamp="$dir/.qv-sysroot-$(echo "$arch $port_packages v1" | md5sum | cut -c1-12)"
mkdir -p "$cache"
# Two test runs (build trees) may ask at once: one makes it, the other waits.
exec 9>"$cache/.lock-$arch"
flock 9

if [ -e "$stamp" ]; then
  echo "$dir"
  exit 0
fi

case "$arch" in
  s390x|arm64|armhf|mipsel)
    rm -rf "$dir" "$dir.tmp"
    # --variant=extract: unpack only, nothing runs inside the target. The
    # security archive's index of a port is now and then caught mid-sync
    # (unexpected size): then once more without it, from the release and its
    # updates, which is enough for a test sysroot.
    sources=/etc/apt/sources.list.d/debian.sources
    grep -v '^#' "$sources" | awk -v RS= -v ORS='\n\n' '!/-security/' >"$cache/.release-$arch.sources"
    for list in "$sources" "$cache/.release-$arch.sources"; do
      rm -rf "$dir.tmp"
      mmdebstrap --quiet --arch="$debian" --variant=extract --include="$port_packages" \
        bookworm "$dir.tmp" "$list" >&2 && break
      echo "sysroot.sh: mmdebstrap with $list failed" >&2
    done
    [ -d "$dir.tmp/usr/include/net-snmp" ] || exit 1
    mv "$dir.tmp" "$dir"
    ;;
  mips|powerpc)
    [ -d "/usr/$triple/lib" ] || { echo "sysroot.sh: /usr/$triple missing (install g++-$triple)" >&2; exit 1; }
    mkdir -p "$dir/usr"
    # The guest's loader and libc, for qemu -L: /lib is the cross libc.
    # (The compiler finds them by itself, outside the sysroot.)
    ln -sfn "/usr/$triple/lib" "$dir/lib"
    "$here/netsnmp-from-source.sh" "$triple" "$dir"
    "$here/gtest-from-source.sh" "$arch" "$dir"
    # Header-only JSON library for the simulated data source: Debian's
    # architecture-independent package, unpacked.
    deb_dir="$cache/debs"; mkdir -p "$deb_dir"
    ls "$deb_dir"/nlohmann-json3-dev_*.deb >/dev/null 2>&1 \
      || (cd "$deb_dir" && apt-get download -q nlohmann-json3-dev >&2)
    dpkg-deb -x "$(ls "$deb_dir"/nlohmann-json3-dev_*.deb | tail -1)" "$dir"
    ;;
  musl)
    command -v musl-gcc >/dev/null || { echo "sysroot.sh: musl-gcc missing (install musl-tools)" >&2; exit 1; }
    "$here/netsnmp-from-source.sh" "$triple" "$dir"
    ;;
esac
touch "$stamp"
echo "$dir"
