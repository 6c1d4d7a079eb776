#!/usr/bin/env bash
# Builds the module, the simulated data source and every test program with
# AddressSanitizer + UndefinedBehaviorSanitizer (QV_SANITIZE=ON) and runs the
# unit, sim, end-to-end and robustness suites with it. snmpd is not
# instrumented: the sanitizer runtime is preloaded into every process the
# tests start, so snmpd can load the instrumented module and sim.
#
# Usage: tests/robustness/run-sanitized-suites.sh [build-dir] [extra ctest args]
# Leak checking is off for the client programs (their exit-time leftovers are
# not ours); the robustness runs turn it on for their own snmpd with
# tests/robustness/lsan.supp. Any sanitizer report aborts the process that
# hit it, so it shows as a failed test.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build-sanitize}
shift || true
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
cmake -S "$root" -B "$build" -DQV_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$jobs"
runtime=$(sed -n 's/^QV_SANITIZER_PRELOAD:[A-Z]*=//p' "$build/CMakeCache.txt")
for lib in $runtime; do
  [ -e "$lib" ] || { echo "sanitizer preload not found: $lib" >&2; exit 1; }
done
[ -n "$runtime" ] || { echo "QV_SANITIZER_PRELOAD is empty" >&2; exit 1; }
export LD_PRELOAD=$runtime
export QV_SANITIZER_PRELOAD=$runtime
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:detect_odr_violation=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Left out: the fuzz target (its own clang build), valgrind-based tests, and
# unit.module_exports, which checks that the module needs libc only (an
# instrumented module also needs the sanitizer runtimes, by design).
exec ctest --test-dir "$build" --output-on-failure -j"$jobs" \
  -L 'unit|sim|e2e|robustness' -LE memcheck -E 'robustness\.fuzz|unit\.module_exports' "$@"
