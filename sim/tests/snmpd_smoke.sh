#!/usr/bin/env bash
# Starts a real snmpd on a free 127.0.0.1 port with the module and the
# simulated data source, reads one value of each table and the sim's
# diagnostic scalars with snmpget, and stops it.
#
#   snmpd_smoke.sh dlmod   SIM_SO MODULE_SO FIXTURE   # snmpd.conf only: dlmod sim, qvSimConfig, dlmod module
#   snmpd_smoke.sh preload SIM_SO MODULE_SO FIXTURE   # LD_PRELOAD=sim, QV_SIM_CONFIG; the sim's dlmod line
#                                                      # comes after the module's, for its scalars only
#   snmpd_smoke.sh reload  SIM_SO MODULE_SO FIXTURE   # as dlmod, but qvSimConfig names a broken file that
#                                                      # is then replaced by the fixture while snmpd runs
set -euo pipefail
mode=$1
sim=$(realpath "$2") module=$(realpath "$3") fixture=$(realpath "$4")

work=$(mktemp -d)
snmpd_pid=
cleanup() {
  if [ -n "$snmpd_pid" ]; then
    kill "$snmpd_pid" 2>/dev/null || true
    wait "$snmpd_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  echo "--- snmpd log ---" >&2
  cat "$work/snmpd.log" >&2 || true
  exit 1
}

# Nothing from the user's or the system's Net-SNMP set-up, no MIB files.
export SNMP_PERSISTENT_DIR=$work/persist SNMPCONFPATH=$work/none
unset QV_SIM_CONFIG QV_SIM_GENERATE
mkdir -p "$SNMP_PERSISTENT_DIR"
# Broken at line 3: a missing comma.
printf '{\n  "interfaces": [{"qvIfName": "a"}]\n  "radio_stats": []\n}\n' >"$work/ap.json"

base=.1.3.6.1.4.1.32473.1.1.1
port=
get() { snmpget -v2c -c public -m '' -t 1 -r 1 -On -Oqv "127.0.0.1:$port" "$@"; }

start_snmpd() {
  local conf=$work/snmpd.conf
  {
    echo "agentaddress udp:127.0.0.1:$port"
    echo "rocommunity public 127.0.0.1 $base"
    echo "dontLogTCPWrappersConnects yes"
    if [ "$mode" = dlmod ]; then
      echo "dlmod qv_wlan_sim $sim"
      echo "qvSimConfig $fixture"
      echo "dlmod qv_if_iterate $module"
    elif [ "$mode" = reload ]; then
      echo "dlmod qv_wlan_sim $sim"
      echo "qvSimConfig $work/ap.json"
      echo "dlmod qv_if_iterate $module"
    else
      echo "dlmod qv_if_iterate $module"
      echo "dlmod qv_wlan_sim $sim"
    fi
  } >"$conf"
  if [ "$mode" != preload ]; then
    /usr/sbin/snmpd -f -Lo -C -c "$conf" -I dlmod,vacm_conf -m '' >"$work/snmpd.log" 2>&1 &
  else
    LD_PRELOAD=${LD_PRELOAD:+$LD_PRELOAD:}$sim QV_SIM_CONFIG=$fixture \
      /usr/sbin/snmpd -f -Lo -C -c "$conf" -I dlmod,vacm_conf -m '' >"$work/snmpd.log" 2>&1 &
  fi
  snmpd_pid=$!
}

# A port another process holds makes snmpd exit at once: try another.
for _attempt in 1 2 3 4 5 6 7 8; do
  port=$((20000 + RANDOM % 40000))
  start_snmpd
  ready=
  for _ in $(seq 1 40); do
    if ! kill -0 "$snmpd_pid" 2>/dev/null; then break; fi
    if [[ "$(get "$base.99.6.0" 2>/dev/null)" =~ ^[0-9]+$ ]]; then ready=1; break; fi
    sleep 0.25
  done
  [ -n "$ready" ] && break
  if kill -0 "$snmpd_pid" 2>/dev/null; then fail "snmpd on port $port does not answer"; fi
  wait "$snmpd_pid" 2>/dev/null || true
  snmpd_pid=
  grep -q 'Error opening specified endpoint' "$work/snmpd.log" || fail "snmpd exited"
done
[ -n "$ready" ] || fail "no free port found"

expect() { # OID expected-value
  local got
  got=$(get "$1" 2>&1) || fail "snmpget $1: $got"
  [ "$got" = "$2" ] || fail "$1: expected '$2', got '$got'"
}
table=$base.2.1
if [ "$mode" = reload ]; then
  # The broken description: one log line naming it, every table empty,
  # snmpd still answering.
  expect "$base.99.7.0" '1'
  expect "$base.99.6.0" '0'
  expect "$table.1.1.1.0" 'No Such Instance currently exists at this OID'
  lines=$(grep -c 'qv_wlan_sim' "$work/snmpd.log" || true)
  [ "$lines" -eq 1 ] || fail "$lines log lines from the sim, want 1"
  grep -q "^qv_wlan_sim: $work/ap.json: line 3, column [0-9]*: syntax error.*; all tables are empty$" "$work/snmpd.log" ||
    fail "no clear message about the broken file"
  # Replaced on disk: the next walk reads it.
  cp "$fixture" "$work/ap.json.new" && mv "$work/ap.json.new" "$work/ap.json"
fi
expect "$table.1.1.2.5" '"Smoke-SSID"'                    # qvSSIDName, cursor 5
expect "$table.2.1.4.3.6.0.17.34.51.68.85" '-61'          # qvClientRSSI, first index 3, MAC 00:11:22:33:44:55
expect "$table.2.1.2.3.6.0.17.34.51.68.85" '192.168.1.10' # qvClientIP
expect "$table.3.1.22.2" '4294967295'                     # qvRadioTxAirtime, cursor 2
expect "$table.4.1.2.9" '12'                              # qvVIfRxUnicastDataFrames, cursor 9
expect "$table.5.1.1.1" '36'                              # qvRadioChannel, cursor 1 (listed first)
expect "$table.5.1.3.0" '-95'                             # qvRadioNoiseFloor, cursor 0 (listed second)

# A walk of every table: 2x6 + 1x37 + 1x23 + 1x18 + 2x3 values, the rows of
# each table in index order although the fixture lists cursors unsorted.
walk=$(snmpbulkwalk -v2c -c public -m '' -t 2 -r 1 -On "127.0.0.1:$port" "$table") || fail "walk: $walk"
[ "$(wc -l <<<"$walk")" -eq 96 ] || fail "walk gave $(wc -l <<<"$walk") values, want 96: $walk"
grep -q "^$table.5.1.1.0 = INTEGER: 6$" <<<"$(grep -m1 "^$table.5.1.1" <<<"$walk")" || fail "radio attribute rows not in index order"

# Diagnostic scalars: every row block was released, nothing was misused,
# the fixture was loaded once.
expect "$base.99.1.0" '0'
expect "$base.99.5.0" '0'
expect "$base.99.6.0" '1'
if [ "$mode" = reload ]; then
  expect "$base.99.7.0" '1'
  sed -i '/^qv_wlan_sim: .*ap.json: line 3/d' "$work/snmpd.log" # seen above
else
  expect "$base.99.7.0" '0'
fi
first=$(get "$base.99.3.0") next=$(get "$base.99.4.0")
[ "$first" -ge 7 ] || fail "firstCalls $first: fewer than the GETs made"
[ "$next" -ge 1 ] || fail "nextCalls $next: no table was walked past its first row"
peak=$(get "$base.99.2.0")
[ "$peak" -ge 1 ] && [ "$peak" -le 4 ] || fail "peakLiveBlocks $peak"

if grep -E 'qv_wlan_sim|dlmod|problem encountered|Cannot|Error' "$work/snmpd.log"; then
  fail "unexpected lines in the snmpd log"
fi
echo "ok: $mode, port $port, firstCalls $first, nextCalls $next, peakLiveBlocks $peak"
