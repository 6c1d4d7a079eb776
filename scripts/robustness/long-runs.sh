#!/usr/bin/env bash
# The long, on-demand versions of the robustness runs (CI runs short ones).
# Figures of the last run are in docs/reliability.md.
#
# Usage: scripts/robustness/long-runs.sh [fuzz|malformed|soak|misbehaving|valgrind|sanitized|all]...
# Environment: QV_BUILD_DIR (default build-robust), FUZZ_SECONDS (default
# 1800), SOAK_REQUESTS (default 1000000), MALFORMED_PACKETS (default 50000),
# QV_SANITIZER_PRELOAD (run the agent-level runs against a QV_SANITIZE build).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${QV_BUILD_DIR:-$root/build-robust}
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
runs=("$@")
[ ${#runs[@]} -gt 0 ] || runs=(all)
[ "${runs[0]}" = all ] && runs=(fuzz malformed misbehaving soak valgrind)

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" --target qv_if_iterate qv_wlan_sim qv_fuzz
py=(python3 "$root/tests/robustness/robustness.py")
common=(--module "$build/src/qv_if_iterate.so" --sim "$build/sim/qv_wlan_sim.so"
        "--preload=${QV_SANITIZER_PRELOAD:-}")
export PATH=/usr/sbin:/sbin:$PATH

for run in "${runs[@]}"; do
  echo "=== $run ($(date -u +%FT%TZ))"
  case $run in
    fuzz)
      "$build/fuzz/clang/qv_fuzz_target" -max_total_time="${FUZZ_SECONDS:-1800}" -timeout=10 -rss_limit_mb=2048 \
        -max_len=4096 -print_final_stats=1 -create_missing_dirs=1 -artifact_prefix="$build/fuzz/" \
        "$build/fuzz/long-run" "$root/fuzz/seeds" 2>&1 | grep -E '^(qv_fuzz|stat::|Done|==|SUMMARY)' ;;
    malformed)
      "${py[@]}" malformed --packets "${MALFORMED_PACKETS:-50000}" --seed 11 --time-limit 3000 "${common[@]}" ;;
    misbehaving)
      "${py[@]}" misbehaving --rounds 200 --clients 3000 --vifs 1000 --time-limit 3000 "${common[@]}" ;;
    soak)
      "${py[@]}" soak --requests "${SOAK_REQUESTS:-1000000}" --clients-n 4 --phases 20 --warmup-phases 2 \
        --time-limit 7200 "${common[@]}" ;;
    valgrind)
      "${py[@]}" valgrind --packets 3000 --time-limit 3000 "${common[@]}" ;;
    sanitized)
      "$root/tests/robustness/run-sanitized-suites.sh" "$root/build-sanitize" ;;
    *) echo "unknown run: $run" >&2; exit 2 ;;
  esac
done
