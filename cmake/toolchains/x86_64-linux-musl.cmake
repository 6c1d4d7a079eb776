# SPDX-License-Identifier: BSD-3-Clause
# Build against musl on an x86-64 build machine (Debian's musl-tools), to try
# the module in a musl snmpd as OpenWrt and many Buildroot images have:
#   cmake -S . -B build-musl --toolchain cmake/toolchains/x86_64-linux-musl.cmake -DQV_SYSROOT=/path/to/sysroot -DQV_MODULE_ONLY=ON
# The sysroot holds a Net-SNMP built with musl-gcc (scripts/cross/sysroot.sh
# musl). The C compiler is musl-gcc; the module's C++ sources need no C++
# runtime (only header-only parts such as <type_traits>), so g++ compiles them
# against libstdc++'s headers, musl's and GCC's own instead of glibc's, and
# the module is linked by musl-gcc (LINKER_LANGUAGE C).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QV_CROSS_TRIPLE x86_64-linux-musl)
set(QV_QEMU_ARCH none)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
# musl-gcc names musl's own headers and libraries by absolute path; the
# sysroot (only Net-SNMP) is searched by find_path/find_library, not passed as
# --sysroot, under which the linker would miss GCC's libgcc_s.
unset(CMAKE_SYSROOT)
set(CMAKE_PROJECT_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/x86_64-linux-musl-project.cmake)
set(CMAKE_C_COMPILER musl-gcc)
set(CMAKE_CXX_COMPILER g++)
execute_process(COMMAND g++ -print-file-name=include OUTPUT_VARIABLE qv_gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND g++ -dumpversion OUTPUT_VARIABLE qv_gcc_version OUTPUT_STRIP_TRAILING_WHITESPACE)
set(CMAKE_CXX_FLAGS_INIT "-nostdinc -isystem /usr/include/c++/${qv_gcc_version} \
  -isystem /usr/include/x86_64-linux-gnu/c++/${qv_gcc_version} -isystem /usr/include/x86_64-linux-musl \
  -isystem ${qv_gcc_include} -include ${CMAKE_CURRENT_LIST_DIR}/x86_64-linux-musl-compat.h")
