# SPDX-License-Identifier: BSD-3-Clause
# Cross-build for arm-linux-gnueabihf: 32-bit ARM little-endian (ARMv7, hard float).
#   cmake -S . -B build-armhf --toolchain cmake/toolchains/arm-linux-gnueabihf.cmake -DQV_SYSROOT=/path/to/sysroot -DQV_MODULE_ONLY=ON
# Compiler: Debian's g++-arm-linux-gnueabihf. See docs/porting.md.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(QV_CROSS_TRIPLE arm-linux-gnueabihf)
set(QV_QEMU_ARCH arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
