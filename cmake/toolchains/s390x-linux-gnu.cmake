# SPDX-License-Identifier: BSD-3-Clause
# Cross-build for s390x-linux-gnu: IBM Z, 64-bit big-endian: Debian has a full port, so its packages give a complete sysroot (mmdebstrap).
#   cmake -S . -B build-s390x --toolchain cmake/toolchains/s390x-linux-gnu.cmake -DQV_SYSROOT=/path/to/sysroot -DQV_MODULE_ONLY=ON
# Compiler: Debian's g++-s390x-linux-gnu. See docs/porting.md.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(QV_CROSS_TRIPLE s390x-linux-gnu)
set(QV_QEMU_ARCH s390x)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
