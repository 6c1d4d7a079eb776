# SPDX-License-Identifier: BSD-3-Clause
# Cross-build for mipsel-linux-gnu: 32-bit MIPS little-endian (MIPS32, o32 ABI), the usual processor of current access points.
#   cmake -S . -B build-mipsel --toolchain cmake/toolchains/mipsel-linux-gnu.cmake -DQV_SYSROOT=/path/to/sysroot -DQV_MODULE_ONLY=ON
# Compiler: Debian's g++-mipsel-linux-gnu. See docs/porting.md.
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(QV_CROSS_TRIPLE mipsel-linux-gnu)
set(QV_QEMU_ARCH mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
