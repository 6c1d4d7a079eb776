# SPDX-License-Identifier: BSD-3-Clause
# Cross-build for powerpc-linux-gnu: 32-bit PowerPC big-endian.
#   cmake -S . -B build-powerpc --toolchain cmake/toolchains/powerpc-linux-gnu.cmake -DQV_SYSROOT=/path/to/sysroot -DQV_MODULE_ONLY=ON
# Compiler: Debian's g++-powerpc-linux-gnu. See docs/porting.md.
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(QV_CROSS_TRIPLE powerpc-linux-gnu)
set(QV_QEMU_ARCH ppc)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
