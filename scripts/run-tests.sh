#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The whole test suite: installs what is missing, builds, runs every test
# through CTest; then builds again with AddressSanitizer + UndefinedBehavior-
# Sanitizer (-DQV_SANITIZE=ON, cmake/Sanitizers.cmake) and runs the unit, sim,
# end-to-end and robustness labels there (QV_SKIP_SANITIZE=1 skips that pass).
# snmpd stays uninstrumented: the fixture preloads the runtime into it
# (QV_SANITIZER_PRELOAD) and fails a test on any report against our code.
# Tests that cannot run in that build carry the label not-sanitized.
# Warnings are errors here (QV_WERROR), not in a device build.
# Usage: scripts/run-tests.sh [extra ctest arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
build=${QV_BUILD_DIR:-$root/build}
jobs=$(nproc)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_WERROR=ON
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs" "$@"
[ "${QV_SKIP_SANITIZE:-0}" = 1 ] && exit 0

sanitize=$build-sanitize
cmake -S "$root" -B "$sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_SANITIZE=ON -DQV_WERROR=ON
cmake --build "$sanitize" -j"$jobs"
# Every process of a test gets the runtime, so that a data source or a module
# loaded into a program that is not instrumented still finds it; leak checks
# of those programs are off (their exit-time leftovers are not ours).
LD_PRELOAD=$(sed -n 's/^QV_SANITIZER_PRELOAD:[A-Z]*=//p' "$sanitize/CMakeCache.txt")
export LD_PRELOAD ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:detect_odr_violation=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$sanitize" --output-on-failure -j"$jobs" -L 'unit|sim|e2e|robustness' -LE 'memcheck|not-sanitized' "$@"
