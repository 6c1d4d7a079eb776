/* SPDX-License-Identifier: BSD-3-Clause */
/* Force-included by x86_64-linux-musl.cmake into C++ sources: the build
 * machine's libstdc++ headers are configured for glibc and test its version
 * with __GLIBC_PREREQ, which musl lacks. "Not glibc" is right for the
 * header-only parts the module uses (<type_traits>). */
#define __GLIBC_PREREQ(major, minor) 0
