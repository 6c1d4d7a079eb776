#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Cross-builds GoogleTest from Debian's googletest sources (/usr/src/googletest)
# and installs it under SYSROOT/usr, for targets without Debian packages.
# Usage: gtest-from-source.sh ARCH SYSROOT      (ARCH names the toolchain file)
set -euo pipefail
arch=$1
sysroot=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/cross/arch.sh"
qv_arch "$arch"
cache=${QV_CROSS_CACHE:-/var/cache/qv-wlan-snmp}
src=/usr/src/googletest
[ -f "$src/CMakeLists.txt" ] || { echo "gtest-from-source: $src missing (install googletest)" >&2; exit 1; }
version=$(dpkg-query -W -f='${Version}' googletest)
stamp="$sysroot/.qv-googletest-$version"
[ -e "$stamp" ] && exit 0

work="$cache/work/googletest-$arch"
rm -rf "$work"
cmake -S "$src" -B "$work" --toolchain "$root/cmake/toolchains/$triple.cmake" \
  -DQV_SYSROOT="$sysroot" -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=lib >"$work.log" 2>&1 \
  || { tail -30 "$work.log" >&2; exit 1; }
cmake --build "$work" -j"${QV_CROSS_JOBS:-2}" >>"$work.log" 2>&1 || { tail -30 "$work.log" >&2; exit 1; }
DESTDIR="$sysroot" cmake --install "$work" >>"$work.log" 2>&1 || { tail -30 "$work.log" >&2; exit 1; }
rm -rf "$work" "$work.log"
touch "$stamp"
