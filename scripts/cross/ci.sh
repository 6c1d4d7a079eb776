#!/usr/bin/env bash
# One step of the big-endian job, as CTest runs it (tests/cross).
# Usage: ci.sh ARCH STEP BUILD_DIR
#   build  sysroot (made when missing), cross-build, check the module's .so
#   unit   the in-process unit tests (real Net-SNMP agent library of the
#          target, fake data source) under qemu-user, one process
#   e2e    the target's snmpd under qemu-user with the module and the
#          simulated data source, read by the build machine's snmp tools
set -euo pipefail
arch=$1
step=$2
build=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
qemu_arch=$arch; [ "$arch" = powerpc ] && qemu_arch=ppc
t0=$(date +%s)

case "$step" in
  build)
    case "$arch" in
      # The simulated data source is for the end-to-end run on s390x only.
      s390x) "$root/scripts/cross/build.sh" "$arch" "$build" qv_wlan_sim qv_unit_tests ;;
      *) "$root/scripts/cross/build.sh" "$arch" "$build" qv_unit_tests ;;
    esac
    if [ "$arch" = mips ]; then
      # The command a firmware engineer runs (docs/porting.md): module only.
      sysroot=$(sed -n 's/^QV_SYSROOT:PATH=//p' "$build/CMakeCache.txt")
      cmake -S "$root" -B "$build/module-only" --toolchain "$root/cmake/toolchains/mips-linux-gnu.cmake" \
        -DQV_SYSROOT="$sysroot" -DQV_MODULE_ONLY=ON >"$build/module-only.log" 2>&1 \
        && cmake --build "$build/module-only" --target qv_if_iterate >>"$build/module-only.log" 2>&1 \
        || { cat "$build/module-only.log" >&2; exit 1; }
      "$root/scripts/cross/check-module.sh" "$build/module-only/src/qv_if_iterate.so" mips-linux-gnu
    fi
    ;;
  unit)
    sysroot=$(sed -n 's/^QV_SYSROOT:PATH=//p' "$build/CMakeCache.txt")
    "qemu-$qemu_arch" -L "$sysroot" "$build/tests/unit/qv_unit_tests" --gtest_brief=1
    ;;
  e2e)
    sysroot=$(sed -n 's/^QV_SYSROOT:PATH=//p' "$build/CMakeCache.txt")
    python3 "$root/scripts/cross/e2e.py" --arch "$arch" --sysroot "$sysroot" \
      --module "$build/src/qv_if_iterate.so" --sim "$build/sim/qv_wlan_sim.so" --work "$build/e2e"
    ;;
  *) echo "ci.sh: unknown step '$step'" >&2; exit 2 ;;
esac
echo "cross $arch $step: $(( $(date +%s) - t0 )) s"
