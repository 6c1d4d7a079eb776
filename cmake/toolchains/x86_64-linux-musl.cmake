# Build against musl on an x86-64 build machine (Debian's musl-tools), to try
# the module in a musl snmpd as OpenWrt and many Buildroot images have:
#   cmake -S . -B build-musl --toolchain cmake/toolchains/x86_64-linux-musl.cmake -DQV_SYSROOT=/path/to/sysroot -DQV_MODULE_ONLY=ON
# The sysroot holds a Net-SNMP built with musl-gcc (scripts/cross/sysroot.sh
# musl). The C compiler is musl-gcc; the module's C++ sources use no C++
# library, so g++ compiles them against musl's headers and GCC's own instead
# of glibc's, and the module is linked by musl-gcc (LINKER_LANGUAGE C).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QV_CROSS_TRIPLE x86_64-linux-musl)
set(QV_QEMU_ARCH none)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
set(CMAKE_C_COMPILER musl-gcc)
set(CMAKE_CXX_COMPILER g++)
execute_process(COMMAND gcc -print-file-name=include OUTPUT_VARIABLE qv_gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE)
set(CMAKE_CXX_FLAGS_INIT "-nostdinc -isystem /usr/include/x86_64-linux-musl -isystem ${qv_gcc_include}")
