#!/usr/bin/env bash
# The nl80211 data source in a real snmpd on this machine, loaded both ways
# (dlmod before the module, and LD_PRELOAD), queried by the real snmpget and
# snmpwalk over 127.0.0.1. This machine has no wireless radios (often not
# even nl80211): the tables must be registered and answer, empty, and a
# netlink failure must be logged once per kind, not once per walk.
#
# Usage: host-snmpd-test.sh MODULE.so DATASOURCE.so WORKDIR
set -euo pipefail
module=$(realpath "$1")
datasource=$(realpath "$2")
work=$3
mkdir -p "$work"
T=.1.3.6.1.4.1.32473.1.1.1.2.1
pid=
fails=0
cleanup() { if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; pid=; fi; }
trap cleanup EXIT
bad() { echo "FAIL: $*"; fails=$((fails + 1)); }

# start_agent MODE: snmpd in the foreground (so $! is snmpd itself) on the
# first free port of a few random ones.
start_agent() {
  local mode=$1 try conf log
  for try in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 20000))
    conf=$work/snmpd-$mode.conf
    log=$work/snmpd-$mode.log
    {
      echo "rocommunity public 127.0.0.1"
      echo "disablePerl true"
      [ "$mode" = dlmod ] && echo "dlmod qv_wlan_nl80211 $datasource"
      echo "dlmod qv_if_iterate $module"
    } >"$conf"
    : >"$log"
    if [ "$mode" = preload ]; then
      LD_PRELOAD=$datasource snmpd -f -C -c "$conf" -Lf "$log" "udp:127.0.0.1:$port" &
    else
      snmpd -f -C -c "$conf" -Lf "$log" "udp:127.0.0.1:$port" &
    fi
    pid=$!
    for _ in $(seq 50); do
      if snmpget -v2c -c public -t 1 -r 0 "127.0.0.1:$port" .1.3.6.1.2.1.1.3.0 >/dev/null 2>&1; then return 0; fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    cleanup
  done
  echo "snmpd did not start; last log:"; cat "$log"; return 1
}

for mode in dlmod preload; do
  start_agent "$mode" || { bad "$mode: snmpd did not start"; continue; }
  peer="-v2c -c public -t 2 -r 1 127.0.0.1:$port"
  # Registered table, resolvable data source, no such row: noSuchInstance
  # (a module that failed to load would give noSuchObject).
  out=$(snmpget $peer $T.1.1.1.2147483647 2>&1 || true)
  case "$out" in *"No Such Instance"*) echo "ok: $mode: qvIfName.2147483647 is noSuchInstance" ;;
    *) bad "$mode: GET answered '$out'"; grep -v 'Cannot adopt\|Cannot find module\|Did not find\|Unlinked OID\|Undefined identifier' "$work/snmpd-$mode.log" ;; esac
  for walk in 1 2 3; do
    out=$(snmpwalk $peer -On $T 2>&1) || bad "$mode: walk $walk failed: $out"
  done
  echo "ok: $mode: three walks of the subtree answered ($(echo "$out" | grep "^$T\." | grep -vc 'No Such' || true) instances)"
  for kind in interfaces associations "radio statistics" "virtual interface statistics" "radio attributes"; do
    n=$(grep -c "qv_wlan_nl80211: cannot read $kind:" "$work/snmpd-$mode.log" || true)
    [ "$n" -le 1 ] || bad "$mode: '$kind' failure logged $n times in three walks"
  done
  grep -q 'dlopen failed\|undefined symbol' "$work/snmpd-$mode.log" && bad "$mode: load errors in the log"
  kill -0 "$pid" 2>/dev/null || bad "$mode: snmpd died"
  cleanup
  echo "--- $mode: the data source's log lines ---"; grep 'qv_wlan_nl80211' "$work/snmpd-$mode.log" || true
done
[ "$fails" = 0 ] && echo "all checks passed" || { echo "$fails check(s) failed"; exit 1; }
