#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Runs a program built for ARCH from the project's sysroot for ARCH (made by
# sysroot.sh) on the build machine: under user-mode QEMU (no binfmt needed),
# or directly for musl. For trying a target's snmpd or test programs:
#   scripts/cross/run.sh arm64 /var/cache/qv-wlan-snmp/sysroot-arm64/usr/sbin/snmpd -f -C -c snmpd.conf udp:127.0.0.1:1161
# Environment for the program: QEMU passes its own environment on.
set -euo pipefail
arch=${1:?usage: run.sh ARCH PROGRAM [ARGS...]}
shift
. "$(dirname "$0")/arch.sh"
qv_arch "$arch"
[ -n "$qemu" ] || exec "$@"
exec "qemu-$qemu" -L "${QV_CROSS_CACHE:-/var/cache/qv-wlan-snmp}/sysroot-$arch" "$@"
