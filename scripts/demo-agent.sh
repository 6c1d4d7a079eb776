#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# One command to see the module at work: installs what is missing, builds the
# module and the simulated access point, starts Debian's snmpd on
# 127.0.0.1 with both loaded, prints the five tables and serves until Ctrl-C.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: scripts/demo-agent.sh [options]

Starts snmpd on udp:127.0.0.1:PORT (SNMP v2c, community "public") with the
qv_if_iterate module over a simulated access point, prints the five tables
and how to query them, then serves until Ctrl-C. Started by root, snmpd
serves as Debian-snmp (or nobody).

Options:
  --port N          UDP port on 127.0.0.1 (default 1161)
  --config FILE     access point description (JSON, see
                    docs/simulated-access-point.md); default: the built-in
                    demo access point
  --once            print the tables and exit
  --debug           turn on the module's debug tokens (trace and table
                    registration lines in the snmpd log)
  --build-dir DIR   where to build (default: build-demo in the repository)
  --prebuilt DIR    use the module and sim already built in DIR; skips
                    installing packages and building
  --numeric         numeric OIDs even when mibs/QV-WLAN-MIB.txt is there
  -h, --help        this text
EOF
}

root=$(cd "$(dirname "$0")/.." && pwd)
port=1161 config='' once='' debug='' build_dir=$root/build-demo prebuilt='' numeric=''
while [ $# -gt 0 ]; do
  case $1 in
    --port) port=${2:?--port needs a number}; shift 2 ;;
    --config) config=${2:?--config needs a file}; shift 2 ;;
    --once) once=1; shift ;;
    --debug) debug=1; shift ;;
    --build-dir) build_dir=${2:?--build-dir needs a directory}; shift 2 ;;
    --prebuilt) prebuilt=${2:?--prebuilt needs a build directory}; shift 2 ;;
    --numeric) numeric=1; shift ;;
    -h | --help) usage; exit 0 ;;
    *) echo "demo-agent: unknown option '$1' (try --help)" >&2; exit 2 ;;
  esac
done
[[ $port =~ ^[0-9]+$ ]] && [ "$port" -ge 1 ] && [ "$port" -le 65535 ] || { echo "demo-agent: bad port '$port'" >&2; exit 2; }
if [ -n "$config" ]; then
  [ -r "$config" ] || { echo "demo-agent: cannot read '$config'" >&2; exit 2; }
  config=$(realpath "$config")
fi

if [ -n "$prebuilt" ]; then
  build_dir=$(realpath "$prebuilt")
else
  "$root/scripts/install-deps.sh" core sim mib
  # Only what the agent runs: no test suites, so the test tools need not be installed.
  cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build_dir" -j"$(nproc)" --target qv_if_iterate qv_wlan_sim
fi
module=$build_dir/src/qv_if_iterate.so
sim=$build_dir/sim/qv_wlan_sim.so
for f in "$module" "$sim"; do
  [ -f "$f" ] || { echo "demo-agent: $f is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qv-demo-agent.XXXXXX")
snmpd_pid='' tail_pid=''
cleanup() {
  trap '' INT TERM # a second Ctrl-C must not cut the clean-up short
  [ -n "$tail_pid" ] && kill "$tail_pid" 2>/dev/null || true
  if [ -n "$snmpd_pid" ]; then
    kill "$snmpd_pid" 2>/dev/null || true
    wait "$snmpd_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

base=.1.3.6.1.4.1.32473.1.1.1
conf=$work/snmpd.conf
{
  echo "# Written by scripts/demo-agent.sh"
  echo "agentaddress udp:127.0.0.1:$port"
  echo "# v2c community 'public', from this host only, for the system group (a"
  echo "# poller's liveness check reads sysUpTime), the module's subtree and the"
  echo "# simulated data source's diagnostic scalars only"
  echo "view qvView included .1.3.6.1.2.1.1"
  echo "view qvView included $base"
  echo "rocommunity public 127.0.0.1 -V qvView"
  echo "dontLogTCPWrappersConnects yes"
  echo "# the data source first: its symbols must be there when the module loads"
  echo "dlmod qv_wlan_sim $sim"
  [ -n "$config" ] && echo "qvSimConfig $config"
  echo "dlmod qv_if_iterate $module"
} >"$conf"

# Only the dlmod loader, the community/view directives and the system group:
# no other MIB module of snmpd is initialised. Nothing of the user's or the
# system's Net-SNMP configuration is read, and persistent state stays in $work.
export SNMP_PERSISTENT_DIR=$work/persist SNMPCONFPATH=$work/none
unset QV_SIM_CONFIG QV_SIM_GENERATE
mkdir -p "$SNMP_PERSISTENT_DIR"
args=(-f -Lo -C -c "$conf" -I "dlmod,vacm_conf,system_mib" -m '')
# Started by root, snmpd serves as Debian's snmpd user once it has read its
# configuration, loaded the modules and opened the port. The simulated data
# source reads (and re-reads when it changes) its description as that user,
# and snmpd saves its state into a folder that user can write.
if [ "$(id -u)" = 0 ]; then
  user=Debian-snmp
  getent passwd "$user" >/dev/null || user=nobody
  if [ -n "$config" ] && ! setpriv --reuid="$user" --regid="$user" --init-groups test -r "$config"; then
    echo "demo-agent: $user cannot read $config: snmpd stays root (make the file and its folders readable to change that)" >&2
  else
    chmod 711 "$work"
    chown "$user" "$SNMP_PERSISTENT_DIR"
    args+=(-u "$user" -g "$(id -g "$user")")
  fi
fi
if [ -n "$debug" ]; then
  tokens=trace,dlmod
  for t in qvXIfTable qvAssociationTable qvRadioStatsTable qvVIfStatsTable qvRadioAttributeTable; do
    tokens+=",initialize_table_$t"
  done
  args+=("-D$tokens")
fi
log=$work/snmpd.log
/usr/sbin/snmpd "${args[@]}" >"$log" 2>&1 &
snmpd_pid=$!

snmp=(-v2c -c public -t 1 -r 1)
target=127.0.0.1:$port
ready=
for _ in $(seq 1 60); do
  kill -0 "$snmpd_pid" 2>/dev/null || break
  if [[ "$(snmpget "${snmp[@]}" -m '' -On -Oqv "$target" "$base.99.6.0" 2>/dev/null)" =~ ^[0-9]+$ ]]; then
    ready=1
    break
  fi
  sleep 0.25
done
if [ -z "$ready" ]; then
  echo "demo-agent: snmpd did not come up on udp:127.0.0.1:$port; its log:" >&2
  cat "$log" >&2
  if grep -q 'Error opening specified endpoint' "$log"; then
    echo "demo-agent: port $port is taken; choose another with --port" >&2
    exit 3
  fi
  exit 1
fi

# Names with the project's MIB when it is there and loads cleanly; numbers
# otherwise (Debian ships no IETF base MIBs, so nothing else is loaded).
mib=()
mibfile=$root/mibs/QV-WLAN-MIB.txt
if [ -f "$mibfile" ] && [ -z "$numeric" ]; then
  dirs=$root/mibs
  for d in /usr/local/share/qv-wlan-snmp/base-mibs /usr/share/snmp/mibs/ietf; do [ -d "$d" ] && dirs+=":$d"; done
  if out=$(snmptranslate -m QV-WLAN-MIB -M "+$dirs" -On QV-WLAN-MIB::qvXIfTable 2>&1) && [[ $out =~ ^\.[0-9.]+$ ]]; then
    mib=(-m QV-WLAN-MIB -M "+$dirs")
  fi
fi

tables=(qvXIfTable qvAssociationTable qvRadioStatsTable qvVIfStatsTable qvRadioAttributeTable)
# Each table's column names in column order, from the column reference.
columns=()
for t in "${tables[@]}"; do
  columns+=("$(awk -F'\t' -v t="$t" '$1 == t {printf "%s%s", sep, $4; sep = " "}' "$root/tests/reference/columns.tsv")")
done

# Without the MIB snmptable cannot tell a table's columns, so the walk is
# laid out here: one line per row, the index first, columns in order.
print_numeric_table() { # table-number column-names
  local root=$base.2.1.$1
  snmpbulkwalk "${snmp[@]}" -m '' -On -OQ "$target" "$root" | awk -v root="$root.1." -v names="$2" '
    index($0, root) == 1 {
      rest = substr($0, length(root) + 1)
      eq = index(rest, " = ")
      oid = substr(rest, 1, eq - 1); value = substr(rest, eq + 3)
      dot = index(oid, ".")
      col = substr(oid, 1, dot - 1) + 0; row = substr(oid, dot + 1)
      if (!(row in seen)) { seen[row] = 1; rows[++nrows] = row }
      cell[row, col] = value
      if (col > ncols) ncols = col
    }
    END {
      n = split(names, name, " ")
      if (nrows == 0) { print "(no rows)"; exit }
      head[0] = "index"; for (c = 1; c <= ncols; c++) head[c] = (c <= n ? name[c] : "column" c)
      for (c = 0; c <= ncols; c++) width[c] = length(head[c])
      for (r = 1; r <= nrows; r++) {
        cell[rows[r], 0] = rows[r]
        for (c = 0; c <= ncols; c++) if (length(cell[rows[r], c]) > width[c]) width[c] = length(cell[rows[r], c])
      }
      line = ""; for (c = 0; c <= ncols; c++) line = line sprintf("%-" width[c] "s  ", head[c]); print line
      for (r = 1; r <= nrows; r++) {
        line = ""; for (c = 0; c <= ncols; c++) line = line sprintf("%-" width[c] "s  ", cell[rows[r], c]); print line
      }
    }'
}

echo "snmpd (pid $snmpd_pid) answers on udp:127.0.0.1:$port, SNMP v2c, community public"
echo "access point: ${config:-built-in demo (sim/demo-ap.json)}"
if grep -q '^qv_wlan_sim:' "$log"; then
  echo "demo-agent: the simulated data source reports:" >&2
  grep '^qv_wlan_sim:' "$log" >&2
fi
for i in 0 1 2 3 4; do
  echo
  echo "== ${tables[$i]} ($base.2.1.$((i + 1))) =="
  if [ ${#mib[@]} -gt 0 ]; then
    snmptable "${snmp[@]}" "${mib[@]}" -Ob -Ci -Cb "$target" "QV-WLAN-MIB::${tables[$i]}" | sed '1,2{/^SNMP table/d;/^$/d}'
  else
    print_numeric_table $((i + 1)) "$(echo ${columns[$i]})"
  fi
done

echo
echo "Query it yourself:"
if [ ${#mib[@]} -gt 0 ]; then
  m="-m QV-WLAN-MIB -M +$dirs"
  echo "  snmptable -v2c -c public $m -Ci $target QV-WLAN-MIB::qvAssociationTable"
  echo "  snmpwalk  -v2c -c public $m $target QV-WLAN-MIB::qvRadioAttributeTable"
  echo "  snmpget   -v2c -c public $m $target QV-WLAN-MIB::qvRadioChannel.0"
else
  echo "  snmpwalk   -v2c -c public -m '' -On $target $base.2.1.2          # qvAssociationTable"
  echo "  snmpget    -v2c -c public -m '' -On $target $base.2.1.5.1.1.0    # qvRadioChannel, row 0"
  echo "  snmpbulkwalk -v2c -c public -m '' -On $target $base.2.1           # all five tables"
fi
echo "  snmpwalk   -v2c -c public -m '' -On $target $base.99             # the simulator's counters"

# "-Dtrace" traces all of Net-SNMP; with --debug only the module's, the
# loader's and the simulator's lines (and any error) are shown.
show_log() {
  if [ -n "$debug" ]; then
    grep --line-buffered -E 'qv|dlmod|problem|[Ee]rror|Warning|NET-SNMP version|shutting down'
  else
    cat
  fi
}

if [ -n "$once" ]; then
  if [ -n "$debug" ]; then
    echo
    echo "== snmpd log (module lines) =="
    show_log <"$log"
  fi
  exit 0
fi

echo
echo "Serving until Ctrl-C. snmpd log${debug:+ (module lines; everything is in $log)}:"
# $! of a pipeline is its last command: tail goes first, so that it is tail
# that the clean-up stops (show_log then ends at the end of its input).
tail -n +1 -f "$log" > >(show_log) &
tail_pid=$!
wait "$snmpd_pid" || true
snmpd_pid=
echo "demo-agent: snmpd exited" >&2
exit 1
