#!/usr/bin/env bash
# The firmware recipes' build (packaging/openwrt, buildroot, yocto): module
# only, cross toolchain with sysroot, prefix /usr, DESTDIR install, for arm64:
# exactly the files of install-tree.txt. Then check-module.sh: it accepts the
# installed module and correct 32-bit MIPS and musl builds, and refuses each
# fault with its own reason.
# Usage: firmware_test.sh ROOT WORK_DIR ARM64_SYSROOT MIPS_MODULE MUSL_MODULE
set -u
root=$1 work=$2 check=$1/scripts/cross/check-module.sh failed=0 passed=0
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
cmake -S "$root" -B build --toolchain "$root/cmake/toolchains/aarch64-linux-gnu.cmake" -DQV_SYSROOT="$3" \
  -DQV_MODULE_ONLY=ON -DCMAKE_INSTALL_PREFIX=/usr -DQV_DLMOD_DIR=lib/snmp/dlmod >build.log 2>&1 \
  && cmake --build build >>build.log 2>&1 && DESTDIR="$work/dest" cmake --install build >>build.log 2>&1 \
  || { cat build.log; exit 1; }
echo 'int *f(void) { return new int; }' | g++ -x c++ -fPIC -c - -o cxx.o && gcc -shared cxx.o -o cxx.so
echo 'int f(void) { return 0; }' | gcc -x c -shared -fPIC - -Wl,--no-as-needed -lm -o libm.so

expect() {  # WHAT (a line check-module.sh prints) MODULE TARGET
  if "$check" "$2" "$3" 2>&1 | grep -q -- "$1"; then passed=$((passed + 1)); echo "ok: $2 for $3: $1"
  else failed=$((failed + 1)); echo "FAILED: $2 for $3 should print '$1':"; "$check" "$2" "$3"; fi
}
if diff -u "$root/tests/cross/install-tree.txt" <(cd dest && find . -type f | sort); then passed=$((passed + 1))
else failed=$((failed + 1)); fi
expect "^OK: " dest/usr/lib/snmp/dlmod/qv_if_iterate.so aarch64-linux-gnu
expect "^OK: " "$4" mips-linux-gnu
expect "^OK: " "$5" musl-gcc
expect "FAIL: Machine" dest/usr/lib/snmp/dlmod/qv_if_iterate.so gcc
expect "FAIL: Data '2's complement, big endian" "$4" mipsel-linux-gnu
expect "FAIL: Class" "$5" "gcc -m32"
expect "FAIL: C++ runtime symbols left undefined: _Znwm" cxx.so gcc
expect "FAIL: NEEDED libm.so.6" libm.so gcc
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
