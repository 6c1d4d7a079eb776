#!/bin/busybox sh
# /init of the QEMU guest: builds a two-radio access point on mac80211_hwsim,
# starts snmpd with the module and the nl80211 data source, and checks the
# five tables against iw and sysfs. Results go to the serial console as
# "QVTEST PASS|FAIL ..." lines and one "QVTEST DONE pass=N fail=M".
/bin/busybox mkdir -p /sbin /usr/bin /usr/sbin
/bin/busybox --install -s /bin
export PATH=/usr/sbin:/usr/bin:/bin
export LD_LIBRARY_PATH=/lib/x86_64-linux-gnu:/usr/lib/x86_64-linux-gnu
export MIBS= MIBDIRS=/nonexistent SNMP_PERSISTENT_DIR=/tmp/snmp
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
mount -t tmpfs run /run

pass=0
fail=0
ok() { echo "QVTEST PASS $*"; pass=$((pass + 1)); }
bad() { echo "QVTEST FAIL $*"; fail=$((fail + 1)); }
note() { echo "QVTEST NOTE $*"; }
finish() {
  echo "QVTEST DONE pass=$pass fail=$fail"
  sync
  poweroff -f
  sleep 30
}
check_eq() { if [ "$2" = "$3" ]; then ok "$1 = $3"; else bad "$1: want '$2', got '$3'"; fi; }
# check_between NAME LOW VALUE HIGH
check_between() {
  if [ -n "$3" ] && [ "$2" -le "$3" ] 2>/dev/null && [ "$3" -le "$4" ]; then ok "$1 = $3 (kernel: $2..$4)"
  else bad "$1: want $2..$4, got '$3'"; fi
}
# wait_for SECONDS COMMAND...: polls every 0.2 s, bounded.
wait_for() {
  n=$(($1 * 5)); shift
  while [ $n -gt 0 ]; do "$@" >/dev/null 2>&1 && return 0; sleep 0.2; n=$((n - 1)); done
  return 1
}
start=$(cut -d' ' -f1 /proc/uptime)
stamp() { note "t=$(cut -d' ' -f1 /proc/uptime)s $*"; }

ip link set lo up
modprobe mac80211_hwsim radios=3 || { bad "modprobe mac80211_hwsim"; finish; }
for m in ccm ctr gcm cmac; do modprobe $m || bad "modprobe $m"; done
wait_for 20 test -e /sys/class/net/wlan2 || { bad "no wlan2 after loading mac80211_hwsim"; finish; }
stamp "radios up"

# Each client radio lives in its own network namespace, so its frames cross
# the simulated air instead of the local stack.
nspids=""
for c in 1 2; do
  unshare -n sleep 100000 &
  pid=$!
  wait_for 10 sh -c "[ \"\$(readlink /proc/$pid/ns/net)\" != \"\$(readlink /proc/self/ns/net)\" ]" ||
    { bad "client namespace not created"; finish; }
  iw phy "$(cat /sys/class/net/wlan$c/phy80211/name)" set netns "$pid" || { bad "moving phy to namespace"; finish; }
  nspids="$nspids $pid"
done

# Scan first: the driver keeps survey (noise) data only for channels it
# switched to during a scan, so hop from a neighbour onto the AP's channel
# (scanning only the channel the radio already sits on records nothing, and
# a full scan is slow under emulation).
ip link set wlan0 up
iw dev wlan0 scan freq 2417 2412 >/tmp/scan.log 2>&1 || { note "scan failed:"; cat /tmp/scan.log; }
ip link set wlan0 down
mkdir -p /run/hostapd /run/wpa_supplicant /tmp/snmp
cat >/tmp/hostapd.conf <<CONF
interface=wlan0
driver=nl80211
ssid=qv-guest-ap
hw_mode=g
channel=1
wpa=2
wpa_passphrase=qv-guest-passphrase
wpa_key_mgmt=WPA-PSK
rsn_pairwise=CCMP
ctrl_interface=/run/hostapd
CONF
hostapd -B -P /run/hostapd.pid /tmp/hostapd.conf >/tmp/hostapd.log 2>&1 || { cat /tmp/hostapd.log; bad "hostapd"; finish; }
ip addr add 169.254.77.1/24 dev wlan0
cat >/tmp/wpa.conf <<CONF
ctrl_interface=/run/wpa_supplicant
network={
  ssid="qv-guest-ap"
  psk="qv-guest-passphrase"
  key_mgmt=WPA-PSK
  scan_freq=2412
  freq_list=2412
}
CONF
c=0
for pid in $nspids; do
  c=$((c + 1))
  nsenter -t "$pid" -n sh -c "
    ip link set lo up
    ip link set wlan$c up
    ip addr add 169.254.77.$((c + 1))/24 dev wlan$c
    wpa_supplicant -B -i wlan$c -c /tmp/wpa.conf -P /run/wpa$c.pid >/tmp/wpa$c.log 2>&1" || bad "wpa_supplicant $c"
done
stamp "hostapd and wpa_supplicant started"
authorized() { [ "$(iw dev wlan0 station dump | grep -c 'authorized:.*yes')" -ge 2 ]; }
if wait_for 60 authorized; then stamp "clients associated"; else
  cat /tmp/hostapd.log /tmp/wpa1.log /tmp/wpa2.log; bad "clients did not associate"; finish
fi
for ip in 169.254.77.2 169.254.77.3; do wait_for 20 ping -c 1 -W 1 $ip || bad "ping $ip across the simulated air"; done

# Two agents: A reuses a snapshot for 30 s (directive), B takes a fresh one
# on every walk (environment).
cat >/tmp/snmpd-common.conf <<CONF
rocommunity public 127.0.0.1
disablePerl true
dlmod qv_wlan_nl80211 /opt/qv/qv_wlan_nl80211.so
CONF
{ cat /tmp/snmpd-common.conf; echo "qvNl80211SnapshotAge 30"; echo "dlmod qv_if_iterate /opt/qv/qv_if_iterate.so"; } >/tmp/snmpd-a.conf
{ cat /tmp/snmpd-common.conf; echo "dlmod qv_if_iterate /opt/qv/qv_if_iterate.so"; } >/tmp/snmpd-b.conf
QV_NL80211_TRACE=1 snmpd -C -c /tmp/snmpd-a.conf -Lf /tmp/snmpd-a.log -p /tmp/snmpd-a.pid udp:127.0.0.1:1161
QV_NL80211_TRACE=1 QV_NL80211_SNAPSHOT_AGE=0 snmpd -C -c /tmp/snmpd-b.conf -Lf /tmp/snmpd-b.log -p /tmp/snmpd-b.pid udp:127.0.0.1:1162
A="-v2c -c public -t 5 -r 1 127.0.0.1:1161"
B="-v2c -c public -t 5 -r 1 127.0.0.1:1162"
wait_for 30 snmpget $A -Oqv .1.3.6.1.2.1.1.3.0 || { cat /tmp/snmpd-a.log; bad "snmpd A does not answer"; finish; }
wait_for 30 snmpget $B -Oqv .1.3.6.1.2.1.1.3.0 || { cat /tmp/snmpd-b.log; bad "snmpd B does not answer"; finish; }
stamp "agents up"

T=.1.3.6.1.4.1.32473.1.1.1.2.1
get() { snmpget $B -Oqv "$1" 2>&1 | tr -d '"'; }
gethex() { snmpget $B -Oqvx "$1" 2>&1 | tr -d '"' | tr 'A-F' 'a-f' | sed 's/ *$//; s/ /:/g'; }
iwsta() { iw dev wlan0 station get "$sta" | awk -v k="$1" '$0 ~ "^[ \t]*"k":" {sub(/^[^:]*:[ \t]*/, ""); print $1; exit}'; }

ifindex=$(cat /sys/class/net/wlan0/ifindex)
phy=$(cat /sys/class/net/wlan0/phy80211/index)
ssid=$(iw dev wlan0 info | awk '$1 == "ssid" {print $2}')
iftype=$(iw dev wlan0 info | awk '$1 == "type" {print $2}')
chan=$(iw dev wlan0 info | awk '$1 == "channel" {print $2}')
width=$(iw dev wlan0 info | sed -n 's/.*width: \([0-9]*\) MHz.*/\1/p')
txpower=$(iw dev wlan0 info | awk '$1 == "txpower" {split($2, p, "."); print p[1]}')
iw dev wlan0 survey dump | sed 's/^/QVTEST SURVEY /'
freq=$(iw dev wlan0 info | sed -n 's/.*channel [0-9]* (\([0-9]*\) MHz).*/\1/p')
noise=$(iw dev wlan0 survey dump | awk -v f="$freq" '$1 == "frequency:" {hit = ($2 == f) || /in use/} hit && $1 == "noise:" {print $2; exit}')
bssid=$(cat /sys/class/net/wlan0/address)
# The client at 169.254.77.2 is the one checked column by column.
sta=$(nsenter -t "$(echo $nspids | cut -d' ' -f1)" -n ip link show wlan1 | awk '$1 == "link/ether" {print $2}')
stations=$(iw dev wlan0 station dump | grep -c '^Station')
signal=$(iwsta signal)
note "iw: ifindex=$ifindex phy=$phy ssid=$ssid type=$iftype channel=$chan width=$width txpower=$txpower noise=$noise station=$sta signal=$signal"
sta_oid=$(echo "$sta" | tr ':' ' ' | { read a b c d e f; printf '6.%d.%d.%d.%d.%d.%d' 0x$a 0x$b 0x$c 0x$d 0x$e 0x$f; })
ass="$ifindex.$sta_oid"

# Interface table
check_eq "qvIfName.$ifindex" wlan0 "$(get $T.1.1.1.$ifindex)"
check_eq "qvSSIDName.$ifindex" "$ssid" "$(get $T.1.1.2.$ifindex)"
[ "$iftype" = AP ] && check_eq "qvIfType.$ifindex (AP)" 3 "$(get $T.1.1.4.$ifindex)" || bad "iw type '$iftype'"
check_eq "qvIfMode.$ifindex (running AP)" 3 "$(get $T.1.1.5.$ifindex)"
check_eq "qvIfConfMode.$ifindex (AP)" 3 "$(get $T.1.1.6.$ifindex)"

# Association table
check_eq "qvClientMac" "$sta" "$(gethex $T.2.1.1.$ass)"
check_eq "qvClientIP" 169.254.77.2 "$(get $T.2.1.2.$ass)"
s=$(get $T.2.1.4.$ass)
case "$s" in -[2-4][0-9]) check_eq "qvClientRSSI (dBm)" "$signal" "$s" ;; *) bad "qvClientRSSI: got '$s', iw '$signal'" ;; esac
check_eq "qvClientSSID" "$ssid" "$(get $T.2.1.10.$ass)"
check_eq "qvClientChannel" "$chan" "$(get $T.2.1.13.$ass)"
check_eq "qvClientBSSID" "$bssid" "$(gethex $T.2.1.37.$ass)"
lo=$(iwsta "tx packets"); tx=$(get $T.2.1.23.$ass); hi=$(iwsta "tx packets")
check_between "qvClientTxDataFrames" "$lo" "$tx" "$hi"
lo=$(iwsta "rx packets"); v=$(get $T.2.1.16.$ass); hi=$(iwsta "rx packets")
check_between "qvClientRxDataFrames" "$lo" "$v" "$hi"
ping -c 5 -i 0.2 -W 1 169.254.77.2 >/dev/null 2>&1 || bad "ping -c 5"
tx2=$(get $T.2.1.23.$ass)
if [ -n "$tx2" ] && [ "$tx2" -ge $((tx + 5)) ] 2>/dev/null; then ok "qvClientTxDataFrames grew by $((tx2 - tx)) after 5 pings"
else bad "qvClientTxDataFrames did not grow: $tx -> $tx2"; fi
be=$(get $T.2.1.30.$ass)
[ -n "$be" ] && [ "$be" -gt 0 ] 2>/dev/null && ok "qvClientTxBeDataFrames = $be" || bad "qvClientTxBeDataFrames '$be'"

# Radio statistics: the radio's data frames are its interfaces' netdev frames
lo=$(cat /sys/class/net/wlan0/statistics/tx_packets); v=$(get $T.3.1.1.$phy); hi=$(cat /sys/class/net/wlan0/statistics/tx_packets)
check_between "qvRadioTxDataFrames.$phy" "$lo" "$v" "$hi"
lo=$(cat /sys/class/net/wlan0/statistics/rx_packets); v=$(get $T.3.1.11.$phy); hi=$(cat /sys/class/net/wlan0/statistics/rx_packets)
check_between "qvRadioRxTotalDataFrames.$phy" "$lo" "$v" "$hi"

# Virtual interface statistics
lo=$(cat /sys/class/net/wlan0/statistics/rx_packets); v=$(get $T.4.1.1.$ifindex); hi=$(cat /sys/class/net/wlan0/statistics/rx_packets)
check_between "qvVIfRxDataFrames.$ifindex" "$lo" "$v" "$hi"
iwsum() { iw dev wlan0 station dump | awk -v k="$1" '$0 ~ "^[ \t]*"k":" {sub(/^[^:]*:[ \t]*/, ""); n += $1} END {print n}'; }
lo=$(iwsum "tx packets"); v=$(get $T.4.1.8.$ifindex); hi=$(iwsum "tx packets")
check_between "qvVIfTxUnicastDataFrames.$ifindex" "$lo" "$v" "$hi"

# Radio attributes
check_eq "qvRadioChannel.$phy" "$chan" "$(get $T.5.1.1.$phy)"
check_eq "qvRadioTxPower.$phy (dBm)" "$txpower" "$(get $T.5.1.2.$phy)"
if [ -n "$noise" ]; then check_eq "qvRadioNoiseFloor.$phy (dBm)" "$noise" "$(get $T.5.1.3.$phy)"
else bad "iw reports no noise for the channel in use"; fi

# The client's radio is in another namespace: this agent must not see it.
rows=$(snmpwalk $B -On $T.5.1.1 2>/dev/null | grep -c "^$T.5.1.1\.")
check_eq "radio attribute rows (client radio hidden)" 1 "$rows"

# Snapshot reuse: a full walk of the association table is one GETNEXT per
# value, each restarting the agent's iteration from the first row. Agent A
# (age 30 s) must take one snapshot for it; agent B (age 0) one per request.
before=$(grep -c 'snapshot of associations' /tmp/snmpd-a.log)
vals=$(snmpwalk $A -On $T.2 2>/dev/null | grep -c "^$T.2.1\.")
after=$(grep -c 'snapshot of associations' /tmp/snmpd-a.log)
check_eq "association walk values ($stations stations x 37 columns)" $((stations * 37)) "$vals"
check_eq "snapshots for a full association walk, age 30 s" 1 "$((after - before))"
note "$(grep 'snapshot of associations' /tmp/snmpd-a.log | tail -n 1)"
# The snmpd.conf directive set 30 s: past the default 1 s, still no new one.
sleep 1.5
snmpwalk $A -On $T.2 >/dev/null 2>&1
again=$(grep -c 'snapshot of associations' /tmp/snmpd-a.log)
check_eq "snapshots 1.5 s later (qvNl80211SnapshotAge 30)" 0 "$((again - after))"
before=$(grep -c 'snapshot of associations' /tmp/snmpd-b.log)
snmpwalk $B -On $T.2 >/dev/null 2>&1
after=$(grep -c 'snapshot of associations' /tmp/snmpd-b.log)
if [ $((after - before)) -ge $((stations * 37)) ]; then ok "age 0 takes a snapshot per walk pass ($((after - before)) for $((stations * 37)) values)"
else bad "age 0: only $((after - before)) snapshots for $((stations * 37)) values"; fi

note "full walk of the subtree (agent B):"
snmpwalk $B -On $T 2>&1 | sed 's/^/QVTEST WALK /'
grep -i 'error\|warn' /tmp/snmpd-b.log | grep -v 'Cannot find module\|MIB search path\|Unlinked OID\|Undefined identifier\|unknown token' | sed 's/^/QVTEST LOG /' | head -n 20
stamp "checks done"
finish
