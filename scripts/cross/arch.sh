# SPDX-License-Identifier: BSD-3-Clause
# Sourced by the cross scripts: what each ARCH name means.
#   qv_arch ARCH  sets triple (toolchain file and compiler prefix), qemu
#   (user-mode QEMU's name for it) and debian (Debian's port, empty when
#   Debian has none and Net-SNMP is built from source instead).
qv_arch() {
  case "$1" in
    s390x)   triple=s390x-linux-gnu      qemu=s390x   debian=s390x ;;
    arm64)   triple=aarch64-linux-gnu    qemu=aarch64 debian=arm64 ;;
    armhf)   triple=arm-linux-gnueabihf  qemu=arm     debian=armhf ;;
    mipsel)  triple=mipsel-linux-gnu     qemu=mipsel  debian=mipsel ;;
    mips)    triple=mips-linux-gnu       qemu=mips    debian= ;;
    powerpc) triple=powerpc-linux-gnu    qemu=ppc     debian= ;;
    # musl on the build machine itself (musl-gcc): runs natively.
    musl)    triple=x86_64-linux-musl    qemu=        debian= ;;
    *) echo "unknown arch '$1' (s390x arm64 armhf mipsel mips powerpc musl)" >&2; return 2 ;;
  esac
}
