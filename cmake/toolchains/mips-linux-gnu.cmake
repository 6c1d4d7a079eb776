# SPDX-License-Identifier: BSD-3-Clause
# Cross-build for mips-linux-gnu: 32-bit MIPS big-endian (MIPS32, o32 ABI), the usual access point processor.
#   cmake -S . -B build-mips --toolchain cmake/toolchains/mips-linux-gnu.cmake -DQV_SYSROOT=/path/to/sysroot -DQV_MODULE_ONLY=ON
# Compiler: Debian's g++-mips-linux-gnu. See docs/porting.md.
set(CMAKE_SYSTEM_PROCESSOR mips)
set(QV_CROSS_TRIPLE mips-linux-gnu)
set(QV_QEMU_ARCH mips)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
