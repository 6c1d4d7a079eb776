#!/usr/bin/env bash
# Runs end-to-end suites with snmpd under valgrind's memcheck: the module's
# reads of row blocks, its releases and the agent's use of what it returns
# must not touch freed or unallocated memory. Leaks are left to the
# simulated source's live-block count, which the suites already check.
# Usage: memcheck.sh TEST_BINARY [gtest arguments]
set -euo pipefail
binary=$1; shift
logs=$(mktemp -d "${TMPDIR:-/tmp}/qv-memcheck-XXXXXX")
trap 'rm -rf "$logs"' EXIT
export QV_SNMPD_WRAPPER="valgrind --quiet --error-exitcode=99 --leak-check=no --log-file=$logs/snmpd.%p"
status=0
"$binary" "$@" || status=$?
found=0
for log in "$logs"/snmpd.*; do
  [ -e "$log" ] || continue
  found=$((found + 1))
  if [ -s "$log" ]; then  # --quiet: anything written is an error report
    echo "memcheck reported errors in snmpd (${log##*/}):"
    cat "$log"
    status=1
  fi
done
if [ "$found" -eq 0 ]; then
  echo "no snmpd ran under valgrind"
  status=1
fi
echo "snmpd ran $found time(s) under memcheck"
exit $status
