# SPDX-License-Identifier: BSD-3-Clause
# Included right after project() by x86_64-linux-musl.cmake: the module's C++
# objects need no C++ runtime, but CMake adds the detected C++ compiler's
# (glibc's) link libraries to a C-linked target; musl-gcc cannot find
# libgcc_s there. Nothing of them is wanted.
set(CMAKE_CXX_IMPLICIT_LINK_LIBRARIES "")
set(CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES "")
