#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Cross-builds the module for ARCH against its sysroot (made when missing),
# with the project's own toolchain file, checks the .so, and builds what the
# test runs under qemu-user need: the simulated data source (qv_wlan_sim)
# and the in-process test programs.
# Usage: build.sh ARCH BUILD_DIR [TARGET...]
#   ARCH: s390x | arm64 | armhf | mipsel | mips | powerpc (scripts/cross/arch.sh)
# Without targets: the module, and qv_wlan_sim and qv_unit_tests when present.
# musl: the module alone (the rest needs a C++ library the musl sysroot lacks).
set -euo pipefail
arch=$1
build=$2
shift 2
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/cross/arch.sh"
qv_arch "$arch"
sysroot=$("$root/scripts/cross/sysroot.sh" "$arch" | tail -n 1)

mkdir -p "$build"
# The documented command (docs/porting.md).
wanted=${*:-qv_wlan_sim qv_unit_tests} module_only=OFF
[ "$arch" = musl ] && wanted= module_only=ON
cmake -S "$root" -B "$build" --toolchain "$root/cmake/toolchains/$triple.cmake" \
  -DQV_SYSROOT="$sysroot" -DQV_MODULE_ONLY=$module_only -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1 \
  || { cat "$build/configure.log" >&2; exit 1; }
include=$(sed -n 's/^NETSNMP_INCLUDE_DIR:PATH=//p' "$build/CMakeCache.txt")
case "$include" in
  "$sysroot"/*) ;;
  *) echo "build.sh: Net-SNMP headers taken from '$include', not from the sysroot $sysroot" >&2; exit 1 ;;
esac

targets=(qv_if_iterate)
available=$(cmake --build "$build" --target help | sed -n 's/^\.\.\. \([^ ]*\).*/\1/p')
for t in $wanted; do
  if grep -qx "$t" <<<"$available"; then targets+=("$t")
  else echo "build.sh: no target $t in this tree" >&2; exit 1; fi
done
echo "building for $triple: ${targets[*]}"
cmake --build "$build" -j"${QV_CROSS_JOBS:-2}" --target "${targets[@]}"
check=$triple; [ "$arch" = musl ] && check=musl-gcc
"$root/scripts/cross/check-module.sh" "$build/src/qv_if_iterate.so" "$check"
