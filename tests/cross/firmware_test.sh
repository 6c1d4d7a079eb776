#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The firmware builds. The module-only arm64 build (cross toolchain, sysroot,
# prefix /usr, DESTDIR): exactly install-tree.txt. Its dist target twice: the
# same bytes. OpenWrt's build of that tarball as include/cmake.mk runs it
# (docs/porting-openwrt.md), for big-endian MIPS against a staging directory
# laid out as net-snmp's InstallDev makes it; then the rendered recipe's own
# install steps, run by make with the rules.mk names they use; the package's
# defaults show no client to a community; its runner restarts the subagent for
# a new master socket. check-module.sh accepts those
# modules, a musl one and a uClibc-ng one, and refuses each fault.
# Usage: firmware_test.sh ROOT WORK_DIR CACHE_DIR MUSL_MODULE
set -u
root=$1 cache=$3 check=$1/scripts/cross/check-module.sh so=dest/usr/lib/snmp/dlmod/qv_if_iterate.so failed=0 n=0
rm -rf "$2" && mkdir -p "$2" && cd "$2" || exit 1
run() { "$@" >>build.log 2>&1 || { echo "FAILED: $*"; tail -n 30 build.log; exit 1; }; }
ok() { n=$((n + 1)); if eval "$2"; then echo "ok: $1"; else failed=$((failed + 1)); echo "FAILED: $1"; fi; }
expect() { p=$1 m=$2 t=$3; ok "$m for $t: $p" '"$check" "$m" "$t" >out 2>&1; grep -q -- "$p" out || ! cat out'; }  # check-module.sh's verdict

run cmake -S "$root" -B build --toolchain "$root/cmake/toolchains/aarch64-linux-gnu.cmake" \
  -DQV_SYSROOT="$cache/sysroot-arm64" -DQV_MODULE_ONLY=ON -DCMAKE_INSTALL_PREFIX=/usr -DQV_DLMOD_DIR=lib/snmp/dlmod
run cmake --build build && run env DESTDIR="$PWD/dest" cmake --install build
ok "arm64 install tree" 'diff -u "$root/tests/cross/install-tree.txt" <(cd dest && find . -type f | sort)'

run cmake --build build --target dist && mv build/dist dist1 && sleep 1 && run cmake --build build --target dist
ok "release tarball, hash and recipes the same when made twice" 'diff -r dist1 build/dist'
read -r sha tarball <build/dist/*.sha256 && tar xzf "build/dist/$tarball" && src=$PWD/${tarball%.tar.gz}
recipe=$PWD/build/dist/recipes/openwrt/qv-wlan-snmp w=$PWD
mkdir -p owrt/include && : >owrt/include/cmake.mk && printf '%s:=%s\n' INCLUDE_DIR '$(TOPDIR)/include' INSTALL_DIR \
  'install -d -m0755' INSTALL_BIN 'install -m0755' INSTALL_DATA 'install -m0644' INSTALL_CONF 'install -m0600' CP 'cp -fpR' >owrt/rules.mk
printf 'define BuildPackage\ninstall:\n\t$$(call Package/$(1)/install,$$(ROOT))\ndev:\n\t$$(call Build/InstallDev,$$(STAGE))\nendef\nprint-%%:\n\t@echo $($*)\n' >owrt/include/package.mk
owrt() { make -s -C "$recipe" TOPDIR="$w/owrt" PKG_INSTALL_DIR="$src/ipkg-install" ROOT="$w/root" STAGE="$w/stage" "$@"; }
ok "recipe fetches $tarball by its SHA-256" '[ "$(owrt print-PKG_SOURCE print-PKG_HASH)" = "$tarball"$'"'\n'"'"$sha" ]'

st=$PWD/staging_dir/target-mips_24kc_musl flags="-Os -pipe -mno-branch-likely -mips32r2 -mtune=24kc -fno-caller-saves \
  -fno-plt -Wformat -Werror=format-security -fstack-protector -D_FORTIFY_SOURCE=1"
b=$src/$(owrt print-CMAKE_BINARY_SUBDIR) ldflags="-L$st/usr/lib -L$st/lib -znow -zrelro" t=/usr/bin/mips-linux-gnu
mkdir -p "$st/usr/include" "$st/usr/lib" "$b" && ln -s "$cache/sysroot-mips/usr/include/net-snmp" "$st/usr/include/" \
  && ln -s "$cache"/sysroot-mips/usr/lib/libnetsnmp*.so* "$st/usr/lib/"
# shellcheck disable=SC2046 # the recipe's CMAKE_OPTIONS, split as make passes them
(cd "$b" && run env CFLAGS="$flags" CXXFLAGS="$flags" LDFLAGS="$ldflags" cmake --no-warn-unused-cli -DCMAKE_SYSTEM_NAME=Linux \
  -DCMAKE_SYSTEM_VERSION=1 -DCMAKE_SYSTEM_PROCESSOR=mips -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG \
  -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG -DCMAKE_C_COMPILER_LAUNCHER= -DCMAKE_C_COMPILER=$t-gcc -DCMAKE_CXX_COMPILER_LAUNCHER= \
  -DCMAKE_CXX_COMPILER=$t-g++ -DCMAKE_ASM_COMPILER_LAUNCHER= -DCMAKE_ASM_COMPILER=$t-gcc -DCMAKE_EXE_LINKER_FLAGS:STRING="$ldflags" \
  -DCMAKE_MODULE_LINKER_FLAGS:STRING="$ldflags -Wl,-Bsymbolic-functions" -DCMAKE_SHARED_LINKER_FLAGS:STRING="$ldflags -Wl,-Bsymbolic-functions" \
  -DCMAKE_AR=$t-ar -DCMAKE_NM=$t-nm -DCMAKE_RANLIB=$t-ranlib -DCMAKE_FIND_ROOT_PATH="$st/usr;/usr/mips-linux-gnu" \
  -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
  -DCMAKE_STRIP=: -DCMAKE_INSTALL_PREFIX=/usr -DDL_LIBRARY="$st" -DCMAKE_PREFIX_PATH="$st" -DCMAKE_SKIP_RPATH=TRUE \
  -DCMAKE_EXPORT_PACKAGE_REGISTRY=FALSE -DCMAKE_EXPORT_NO_PACKAGE_REGISTRY=TRUE -DCMAKE_FIND_USE_PACKAGE_REGISTRY=FALSE \
  -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=TRUE -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=FALSE \
  -DCMAKE_FIND_PACKAGE_NO_SYSTEM_PACKAGE_REGISTRY=TRUE -DCMAKE_GENERATOR=Ninja -DCMAKE_C_FLAGS="$flags" $(owrt print-CMAKE_OPTIONS) "$src") || exit 1
run ninja -C "$b" && run env DESTDIR="$src/ipkg-install" ninja -C "$b" install
ok "OpenWrt build takes Net-SNMP from its staging directory" 'grep -q "^NETSNMP_INCLUDE_DIR:PATH=$st/usr/include$" "$b/CMakeCache.txt"'
run owrt install  # and, where the tree installs the data-source kit, Build/InstallDev as OpenWrt's pkg-config reads it
[ -d "$src/ipkg-install/usr/include/qv-wlan-snmp" ] && run owrt dev && ok "kit staged" 'PKG_CONFIG_LIBDIR=stage/usr/lib/pkgconfig \
  pkg-config --define-variable=prefix="$w/stage/usr" --cflags qv-wlan-datasource | grep -q "^-I$w/stage/usr/include/qv-wlan-snmp "'
ok "OpenWrt package contents" '[ "$(cd root && find . -type f | sort | tr "\n" " ")" = "./etc/config/qv-wlan-snmp ./etc/init.d/qv-wlan-snmp ./usr/lib/snmp/dlmod/qv_if_iterate.so ./usr/libexec/qv-wlan-snmp-exposed ./usr/libexec/qv-wlan-snmp-run ./usr/share/snmp/mibs/QV-WLAN-MIB.txt " ]'

# The sections of OpenWrt's stock /etc/config/snmpd (net/net-snmp) giving community public the whole tree.
printf 'config view all\n\toption viewname all\n\toption type included\n\toption oid .1\nconfig access public_access
\toption group public\n\toption level noauth\n\toption read all\n' >stock
sed 's/read all/read qvpublic/' stock >restricted && sed -n '/^<!-- view -->/,/^<!-- \/view -->/{/^config\|^\t/p}' "$root/docs/porting-openwrt.md" >>restricted
ok "package ships disabled" 'grep -q "^[[:space:]]*option enabled .0.$" root/etc/config/qv-wlan-snmp'
ok "init refuses OpenWrt's stock view" 'root/usr/libexec/qv-wlan-snmp-exposed stock | grep -q "access public (noauth) reads view all"'
ok "init accepts the documented view" 'grep -q excluded restricted && ! root/usr/libexec/qv-wlan-snmp-exposed restricted'
sock() { python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$1"; }
sock master.sock && (QV_WATCH_INTERVAL=1 timeout 20 root/usr/libexec/qv-wlan-snmp-run master.sock sh -c ': >started; exec sleep 60' \
  2>/dev/null; echo $? >run.rc) &
for _ in $(seq 100); do [ -e started ] && break; sleep 0.1; done; sock new.sock && mv new.sock master.sock && wait
ok "subagent stopped, to be started again, when the master has a new socket" '[ "$(cat run.rc)" = 1 ]'

echo 'int *f(void) { return new int; }' | g++ -x c++ -fPIC -c - -o cxx.o && gcc -shared cxx.o -o cxx.so
echo 'int f(void) { return 0; }' | gcc -x c -shared -fPIC - -Wl,--no-as-needed -lm -o libm.so
for l in libc.so.1 ld64-uClibc.so.1; do echo | gcc -x c -shared - -nostdlib -Wl,-soname,$l -o $l; done
printf 'void %s(void) {}\n' init_qv_if_iterate qv_if_scalar qvXIfTable_handler get_qvClientMac \
  | gcc -x c -shared -fPIC - -nostdlib -x none -Wl,--no-as-needed ./libc.so.1 ./ld64-uClibc.so.1 -o uclibc.so
expect "^OK: " $so aarch64-linux-gnu
expect "^OK: " root/usr/lib/snmp/dlmod/qv_if_iterate.so mips-linux-gnu
expect "^OK: " "$4" musl-gcc
expect "NEEDED: libc.so.1 ld64-uClibc.so.1" uclibc.so gcc && expect "^OK: " uclibc.so gcc
expect "FAIL: Machine 'AArch64'" $so gcc
expect "FAIL: Data '2's complement, big endian'" root/usr/lib/snmp/dlmod/qv_if_iterate.so mipsel-linux-gnu
expect "FAIL: C++ runtime symbols left undefined: _Znwm" cxx.so gcc
expect "FAIL: NEEDED libm.so.6" libm.so gcc
# Buildroot's and Yocto's recipes: the tarball's SHA-256, and LICENSE's hashes as each build checks them.
br=build/dist/recipes/buildroot/package/qv-wlan-snmp/qv-wlan-snmp.hash yo=$(echo build/dist/recipes/yocto/*/recipes-*/*/*.bb)
ok "Buildroot and Yocto recipes: $tarball by its SHA-256, LICENSE's hashes" 'grep -qx "sha256  $sha  $tarball" $br && grep -qx \
  "sha256  $(sha256sum <"$src/LICENSE" | cut -c1-64)  LICENSE" $br && grep -qx "SRC_URI\[sha256sum\] = \"$sha\"" $yo \
  && grep -q "file://LICENSE;md5=$(md5sum <"$src/LICENSE" | cut -c1-32)\"" $yo'
echo "$((n - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
