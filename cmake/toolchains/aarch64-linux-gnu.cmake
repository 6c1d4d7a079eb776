# SPDX-License-Identifier: BSD-3-Clause
# Cross-build for aarch64-linux-gnu: 64-bit ARM little-endian, the processor of most Wi-Fi 6/7 access points.
#   cmake -S . -B build-arm64 --toolchain cmake/toolchains/aarch64-linux-gnu.cmake -DQV_SYSROOT=/path/to/sysroot -DQV_MODULE_ONLY=ON
# Compiler: Debian's g++-aarch64-linux-gnu. See docs/porting.md.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QV_CROSS_TRIPLE aarch64-linux-gnu)
set(QV_QEMU_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
