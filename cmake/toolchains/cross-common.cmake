# SPDX-License-Identifier: BSD-3-Clause
# Shared part of the cross toolchain files. The including file sets
# QV_CROSS_TRIPLE and CMAKE_SYSTEM_PROCESSOR first.
#
# The target's root file system (its libc, Net-SNMP headers and libraries) is
# the sysroot: -DQV_SYSROOT=DIR (or -DCMAKE_SYSROOT=DIR, or the environment
# variable QV_SYSROOT). It is mandatory: without --sysroot the cross compiler
# silently takes the build machine's Net-SNMP headers from /usr/include, whose
# net-snmp-config.h describes another processor.

set(CMAKE_SYSTEM_NAME Linux)

if(NOT QV_SYSROOT)
  if(CMAKE_SYSROOT)
    set(QV_SYSROOT "${CMAKE_SYSROOT}")
  elseif(DEFINED ENV{QV_SYSROOT})
    set(QV_SYSROOT "$ENV{QV_SYSROOT}")
  endif()
endif()
if(NOT QV_SYSROOT OR NOT IS_DIRECTORY "${QV_SYSROOT}")
  message(FATAL_ERROR "cross-build for ${QV_CROSS_TRIPLE}: pass the target's sysroot, "
    "-DQV_SYSROOT=DIR (got '${QV_SYSROOT}')")
endif()
# try_compile projects re-read this file without the cache: hand it on.
set(ENV{QV_SYSROOT} "${QV_SYSROOT}")
set(QV_SYSROOT "${QV_SYSROOT}" CACHE PATH "Root file system of the target")

set(CMAKE_SYSROOT "${QV_SYSROOT}")
set(CMAKE_C_COMPILER ${QV_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${QV_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${QV_CROSS_TRIPLE})

# Headers and libraries only from the sysroot (find_path(NETSNMP_INCLUDE_DIR)
# must not fall back to the build machine's); programs from the build machine.
set(CMAKE_FIND_ROOT_PATH "${QV_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under user-mode QEMU when it is installed (Debian's
# qemu-user); the guest's dynamic loader and libraries come from the sysroot.
find_program(QV_QEMU qemu-${QV_QEMU_ARCH})
if(QV_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${QV_QEMU};-L;${QV_SYSROOT}")
endif()
