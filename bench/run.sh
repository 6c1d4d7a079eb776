#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The walk-cost benchmark in one command: installs what is missing, builds the
# module and the benchmark's pieces, runs bench/run_bench.py.
#   bash bench/run.sh               full run, 16 to 1024 clients (about 4 min on 2 cores)
#   bash bench/run.sh --short       16 and 64 clients (what CTest runs)
#   bash bench/run.sh --callgrind   instruction split at 64 clients (valgrind)
# Results: $QV_BENCH_OUT (default build-bench/bench-results): walks.csv, walk.png,
# walks.jsonl; callgrind.csv and callgrind.*.out with --callgrind.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
build=${QV_BUILD_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target qv_if_iterate qv_bench_source qv_bench_probe qv_bench_floor qv_bench_walk
exec /usr/bin/python3 "$root/bench/run_bench.py" --build-dir "$build" --out "${QV_BENCH_OUT:-$build/bench-results}" "$@"
