#!/usr/bin/env bash
# Bounded fuzzing run: replays the corpus, then mutates for SECONDS seconds.
# Usage: run-fuzz.sh FUZZ_TARGET CORPUS_DIR WORK_DIR SECONDS [extra libFuzzer args]
# The corpus is copied into WORK_DIR/corpus, so the source tree stays clean;
# crashes land in WORK_DIR as crash-* and the run fails.
set -euo pipefail
target=$1 corpus=$2 work=$3 seconds=$4
shift 4
rm -rf "$work"
mkdir -p "$work/corpus"
if [ -d "$corpus" ]; then cp -r "$corpus"/. "$work/corpus/"; fi
# One job, bounded in time and memory; per-input timeout catches endless walks.
exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=4096 -print_final_stats=1 -artifact_prefix="$work/" "$@" "$work/corpus"
