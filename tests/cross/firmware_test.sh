#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The firmware recipes' build (packaging/openwrt, buildroot, yocto): module
# only, cross toolchain with sysroot, prefix /usr, DESTDIR install, for arm64:
# exactly the files of install-tree.txt. Then check-module.sh accepts the
# installed module and a musl build, and refuses each fault with its reason.
# Usage: firmware_test.sh ROOT WORK_DIR ARM64_SYSROOT MIPS_MODULE MUSL_MODULE
set -u
root=$1 check=$1/scripts/cross/check-module.sh so=dest/usr/lib/snmp/dlmod/qv_if_iterate.so failed=0
rm -rf "$2" && mkdir -p "$2" && cd "$2" || exit 1
cmake -S "$root" -B build --toolchain "$root/cmake/toolchains/aarch64-linux-gnu.cmake" -DQV_SYSROOT="$3" \
  -DQV_MODULE_ONLY=ON -DCMAKE_INSTALL_PREFIX=/usr -DQV_DLMOD_DIR=lib/snmp/dlmod >build.log 2>&1 \
  && cmake --build build >>build.log 2>&1 && DESTDIR="$PWD/dest" cmake --install build >>build.log 2>&1 \
  || { cat build.log; exit 1; }
echo 'int *f(void) { return new int; }' | g++ -x c++ -fPIC -c - -o cxx.o && gcc -shared cxx.o -o cxx.so
echo 'int f(void) { return 0; }' | gcc -x c -shared -fPIC - -Wl,--no-as-needed -lm -o libm.so
diff -u "$root/tests/cross/install-tree.txt" <(cd dest && find . -type f | sort) || failed=1
expect() {  # WHAT (a line check-module.sh prints) MODULE TARGET
  "$check" "$2" "$3" >out 2>&1; grep -q -- "$1" out && echo "ok: $2 for $3: $1" \
    || { failed=$((failed + 1)); echo "FAILED: $2 for $3 should print '$1':"; cat out; }
}
expect "^OK: " $so aarch64-linux-gnu
expect "^OK: " "$5" musl-gcc
expect "FAIL: Machine 'AArch64'" $so gcc
expect "FAIL: Data '2's complement, big endian'" "$4" mipsel-linux-gnu
expect "FAIL: C++ runtime symbols left undefined: _Znwm" cxx.so gcc
expect "FAIL: NEEDED libm.so.6" libm.so gcc
echo "$((7 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
