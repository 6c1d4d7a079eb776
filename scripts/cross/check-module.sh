#!/usr/bin/env bash
# Checks a (cross-)built qv_if_iterate.so the way the target's snmpd will
# meet it: the right machine, libc as its only load-time dependency, and no
# C++ runtime symbol left for the loader to find (an access point's firmware
# has no libstdc++). Usage: check-module.sh MODULE.so TRIPLE
set -euo pipefail
so=$1
triple=$2
readelf=$triple-readelf; command -v "$readelf" >/dev/null || readelf=readelf
nm=$triple-nm; command -v "$nm" >/dev/null || nm=nm
fail=0

machine=$("$readelf" -h "$so" | sed -n 's/^ *Machine: *//p')
data=$("$readelf" -h "$so" | sed -n 's/^ *Data: *//p')
echo "$so: $machine, $data"
case "$triple" in
  s390x-*) want_machine='S/390' ;;
  mips-*) want_machine='MIPS' ;;
  powerpc-*) want_machine='PowerPC' ;;
  x86_64-*) want_machine='X86-64' ;;
  *) want_machine='' ;;
esac
case "$machine" in *"$want_machine"*) ;; *) echo "FAIL: machine '$machine', expected $want_machine" >&2; fail=1 ;; esac
case "$triple" in
  x86_64-*) ;;
  *) case "$data" in *"big endian"*) ;; *) echo "FAIL: not big-endian: $data" >&2; fail=1 ;; esac ;;
esac

needed=$("$readelf" -d "$so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "NEEDED: $(echo $needed)"
if [ "$needed" != "libc.so.6" ]; then
  echo "FAIL: NEEDED must be libc.so.6 alone, got: $(echo $needed)" >&2
  fail=1
fi

# Strongly undefined C++ runtime symbols. The weak reference to
# __cxa_finalize comes from the compiler's crtbeginS.o in every shared
# object, C ones included; glibc provides it.
cxx=$("$nm" -D --undefined-only "$so" | awk '$1 == "U" && ($2 ~ /^_Z/ || $2 ~ /^__cxa_/ || $2 ~ /^__gxx_/) {print $2}')
if [ -n "$cxx" ]; then
  echo "FAIL: C++ runtime symbols left undefined:" $cxx >&2
  fail=1
fi
defined=$("$nm" -D --defined-only "$so")
for sym in init_qv_if_iterate qv_if_scalar qvXIfTable_handler get_qvClientMac; do
  grep -q " T $sym\$" <<<"$defined" || { echo "FAIL: $sym not exported" >&2; fail=1; }
done
[ $fail -eq 0 ] && echo "OK: $so"
exit $fail
