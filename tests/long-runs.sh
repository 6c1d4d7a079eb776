#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The long, on demand runs whose last figures are in docs/reliability.md (CI
# runs the same tests short). Each argument is RUN=SIZE:
#   fuzz=SECONDS  fuzz-inputs=COUNT  malformed=PACKETS  soak=REQUESTS  misbehaving=ROUNDS  valgrind=PACKETS
# e.g. tests/long-runs.sh fuzz=1800 malformed=50000 soak=1000000 valgrind=3000
# QV_BUILD_DIR (default build) picks the build; one configured with
# -DQV_SANITIZE=ON runs the agent-level runs under the sanitizers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_BUILD_DIR:-$root/build}
[ $# -gt 0 ] || { sed -n '2,8p' "$0"; exit 2; }
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target qv_if_iterate qv_wlan_sim qv_test_datasource
# The agent-level runs get the environment CTest gives the robustness tests.
while IFS= read -r kv; do export "${kv?}"; done < <(ctest --test-dir "$build" --show-only=json-v1 | python3 -c '
import json, sys
test = next(t for t in json.load(sys.stdin)["tests"] if t["name"] == "robustness.Malformed")
print("\n".join(next(p["value"] for p in test["properties"] if p["name"] == "ENVIRONMENT")))')
export QV_TIME_LIMIT=${QV_TIME_LIMIT:-36000}
robustness=("$root/tests/robustness/test_robustness.py")

for arg in "$@"; do
  size=${arg#*=}
  echo "=== $arg ($(date -u +%FT%TZ))"
  case ${arg%%=*} in
    fuzz | fuzz-inputs)
      cmake --build "$build" --target qv_fuzz
      limit=-max_total_time=$size; [ "${arg%%=*}" = fuzz ] || limit=-runs=$size
      "$build/fuzz/clang/qv_fuzz_target" "$limit" -timeout=10 -rss_limit_mb=2048 \
        -max_len=4096 -print_final_stats=1 -create_missing_dirs=1 -artifact_prefix="$build/fuzz/" \
        "$build/fuzz/long-run" "$root/fuzz/seeds" 2>&1 | grep -E '^(qv_fuzz|stat::|Done|==|SUMMARY)' ;;
    malformed) QV_PACKETS=$size python3 "${robustness[@]}" Malformed ;;
    soak) QV_SOAK_REQUESTS=$size python3 "${robustness[@]}" Soak ;;
    misbehaving) QV_ROUNDS=$size python3 "${robustness[@]}" Misbehaving ;;
    valgrind)
      QV_AGENT_WRAPPER="valgrind --quiet --error-exitcode=99 --leak-check=no" QV_PACKETS=$size \
        python3 "${robustness[@]}" Malformed Misbehaving ;;
    *) echo "unknown run: $arg" >&2; exit 2 ;;
  esac
done
