#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, and runs every test
# through CTest; then builds again with AddressSanitizer + UndefinedBehavior-
# Sanitizer and reruns the unit, sim, end-to-end and robustness suites there
# (QV_SKIP_SANITIZE=1 skips that second pass).
# Usage: scripts/run-tests.sh [extra ctest arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
build=${QV_BUILD_DIR:-$root/build}
jobs=$(nproc)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs" "$@"
if [ "${QV_SKIP_SANITIZE:-0}" != 1 ]; then
  "$root/tests/robustness/run-sanitized-suites.sh" "$build-sanitize" "$@"
fi
