# SPDX-License-Identifier: BSD-3-Clause
# QV_SANITIZE=ON builds everything of the project (the module, the simulated
# data source, the test programs) with AddressSanitizer and
# UndefinedBehaviorSanitizer. snmpd itself stays uninstrumented: tests that
# start it preload the runtime named by QV_SANITIZER_PRELOAD (see
# docs/reliability.md and scripts/run-tests.sh).
option(QV_SANITIZE "Build with AddressSanitizer + UndefinedBehaviorSanitizer" OFF)

if(QV_SANITIZE)
  set(_qv_san_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined
      -fno-omit-frame-pointer -g)
  add_compile_options(${_qv_san_flags})
  # GCC's flow analysis gives false maybe-uninitialized warnings inside the
  # standard library (std::function in <regex>) once ASan instruments it;
  # with -Werror in the test programs they would stop the build.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
  add_link_options(-fsanitize=address,undefined)
  # What an uninstrumented host (snmpd, a C program) must preload to load
  # instrumented modules: the sanitizer runtime of the compiler in use, and
  # libstdc++, so that the runtime finds the real __cxa_throw when it starts
  # (without it, the first C++ exception in a module stops the process).
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libclang_rt.asan-x86_64.so
                    OUTPUT_VARIABLE _qv_asan_rt OUTPUT_STRIP_TRAILING_WHITESPACE)
  else()
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                    OUTPUT_VARIABLE _qv_asan_rt OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++.so.6
                  OUTPUT_VARIABLE _qv_stdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(_qv_asan_rt "${_qv_asan_rt}" REALPATH)
  get_filename_component(_qv_stdcxx "${_qv_stdcxx}" REALPATH)
  set(QV_SANITIZER_PRELOAD "${_qv_asan_rt} ${_qv_stdcxx}" CACHE STRING
      "LD_PRELOAD for snmpd with instrumented modules (space-separated)" FORCE)
  message(STATUS "QV_SANITIZE: ASan+UBSan; snmpd preloads ${QV_SANITIZER_PRELOAD}")
else()
  set(QV_SANITIZER_PRELOAD "" CACHE STRING "LD_PRELOAD for snmpd with instrumented modules (space-separated)" FORCE)
endif()
