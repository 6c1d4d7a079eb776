#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Checks a (cross-)built qv_if_iterate.so the way the target's snmpd will
# meet it: the target's machine, word size and byte order, a C library as its
# only load-time dependency (glibc's libc.so.6, musl's libc.so or
# ld-musl-*.so.1, uClibc-ng's libc.so.1, ld-uClibc.so.1 or, on x86_64, MIPS
# n64, powerpc64 and sparc64, ld64-uClibc.so.1; old SDKs' uClibc 0.9 the same
# names with .so.0), and no C++ runtime
# symbol left for the loader to find (an access point's firmware has no
# libstdc++).
#
# Usage: check-module.sh MODULE.so TARGET
#   TARGET: the target's C compiler, with any flags it needs
#   ("mipsel-openwrt-linux-musl-gcc", "musl-gcc", "gcc"), or a GNU triple
#   (mipsel-linux-gnu: TRIPLE-gcc). What the target is comes from an object
#   that compiler makes, not from a list of processors.
set -euo pipefail
so=${1:?usage: check-module.sh MODULE.so TARGET}
target=${2:?usage: check-module.sh MODULE.so TARGET}
cc=($target)
command -v "$target-gcc" >/dev/null 2>&1 && cc=("$target-gcc")
fail=0
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

header() { readelf -h "$1" | sed -n "s/^ *$2: *//p"; }
echo 'int qv_probe;' | "${cc[@]}" -c -x c - -o "$tmp/probe.o" \
  || { echo "FAIL: '${cc[*]}' cannot compile for the target" >&2; exit 2; }
for field in Class Data Machine; do
  got=$(header "$so" "$field") want=$(header "$tmp/probe.o" "$field")
  echo "$field: $got"
  [ "$got" = "$want" ] || { echo "FAIL: $field '$got', the target (${cc[*]}) has '$want'" >&2; fail=1; }
done

needed=$(readelf -d "$so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "NEEDED: $(echo $needed)"
[ -n "$needed" ] || { echo "FAIL: no C library among NEEDED" >&2; fail=1; }
for lib in $needed; do
  case "$lib" in
    libc.so.6|libc.so|ld-musl-*.so.1|libc.so.[01]|ld-uClibc.so.[01]|ld64-uClibc.so.[01]) ;;
    *) echo "FAIL: NEEDED $lib: only the C library may be loaded with the module" >&2; fail=1 ;;
  esac
done

# Dynamic symbols: Num: Value Size Type Bind Vis Ndx Name. Strongly
# undefined C++ runtime symbols fail; the weak __cxa_finalize that the
# compiler's crtbeginS.o puts in every shared object, C ones included, is the
# C library's.
syms=$(readelf --dyn-syms -W "$so")
cxx=$(awk '$7 == "UND" && $5 != "WEAK" && ($8 ~ /^_Z/ || $8 ~ /^__cxa_/ || $8 ~ /^__gxx_/) {print $8}' <<<"$syms")
[ -z "$cxx" ] || { echo "FAIL: C++ runtime symbols left undefined:" $cxx >&2; fail=1; }
for sym in init_qv_if_iterate qv_if_scalar qvXIfTable_handler get_qvClientMac; do
  awk -v s="$sym" '$4 == "FUNC" && $5 == "GLOBAL" && $7 != "UND" && $8 == s {f=1} END {exit !f}' <<<"$syms" \
    || { echo "FAIL: $sym not exported" >&2; fail=1; }
done
[ $fail -eq 0 ] && echo "OK: $so"
exit $fail
