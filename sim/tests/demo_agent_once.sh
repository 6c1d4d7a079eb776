#!/usr/bin/env bash
# scripts/demo-agent.sh --once on a free port, with the module and the sim of
# this build: the five tables of the built-in demo access point are printed,
# by name when the project's MIB loads and by number with --numeric.
#   demo_agent_once.sh DEMO_AGENT_SH BUILD_DIR
set -euo pipefail
demo=$1 build=$2
out=$(mktemp)
trap 'rm -f "$out"' EXIT

run() { # extra options...
  local rc
  for _attempt in 1 2 3 4 5 6; do
    rc=0
    timeout 40 "$demo" --once --prebuilt "$build" --port $((20000 + RANDOM % 40000)) "$@" >"$out" 2>&1 || rc=$?
    [ "$rc" -eq 3 ] || break # 3: the port was taken
  done
  [ "$rc" -eq 0 ] || { cat "$out" >&2; echo "FAIL: demo-agent.sh $* exited $rc" >&2; exit 1; }
  for table in qvXIfTable qvAssociationTable qvRadioStatsTable qvVIfStatsTable qvRadioAttributeTable; do
    grep -q "^== $table (" "$out" || { cat "$out" >&2; echo "FAIL: no $table in the output ($*)" >&2; exit 1; }
  done
  # Rows of the demo access point: a client, an SSID, the 5 GHz radio.
  for text in alice-macbook QV-Guest 192.168.10.101 '-92'; do
    grep -q -- "$text" "$out" || { cat "$out" >&2; echo "FAIL: '$text' missing ($*)" >&2; exit 1; }
  done
  [ "$(grep -c 'alice-macbook' "$out")" -eq 1 ] || { cat "$out" >&2; echo "FAIL: one row per client ($*)" >&2; exit 1; }
  grep -q '^Query it yourself:' "$out" || { echo "FAIL: no query examples ($*)" >&2; exit 1; }
  echo "ok: demo-agent.sh --once $*"
}

run
run --numeric
