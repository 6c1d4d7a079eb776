#!/bin/busybox sh
# SPDX-License-Identifier: BSD-3-Clause
# /init of the QEMU guest: an access point on mac80211_hwsim (hostapd on wlan0
# with four BSSes, hostapd.conf) and five clients, one radio each in its own
# network namespace so frames cross the simulated air: wlan1 WPA2-PSK, wlan2
# WPA2-PSK put on VLAN 7, wlan3 WPA3-SAE, wlan4 WPA2-Enterprise, wlan5 open.
# snmpd with the module and the nl80211 data source; the checks of
# /opt/qv/checks.tsv against iw, sysfs and the configuration; then hostapd
# stopped and resumed.
# Results go to the serial console: "QVTEST PASS|FAIL ..." lines, then one
# "QVTEST DONE pass=N fail=M".
/bin/busybox mkdir -p /sbin /usr/bin /usr/sbin /tmp
/bin/busybox --install -s /bin
export PATH=/usr/sbin:/usr/bin:/bin MIBS= MIBDIRS=/nonexistent SNMP_PERSISTENT_DIR=/tmp/snmp
export LD_LIBRARY_PATH=/lib/x86_64-linux-gnu:/usr/lib/x86_64-linux-gnu
for fs in proc:/proc sysfs:/sys devtmpfs:/dev tmpfs:/tmp tmpfs:/run; do mount -t "${fs%%:*}" none "${fs#*:}"; done
mkdir -p /run/wpa_supplicant /tmp/snmp && mkfifo /tmp/leases.fifo
pass=0 fail=0
ok() { echo "QVTEST PASS $*"; pass=$((pass + 1)); }
bad() { echo "QVTEST FAIL $*"; fail=$((fail + 1)); }
finish() { echo "QVTEST DONE pass=$pass fail=$fail"; sync; poweroff -f; sleep 30; }
wait_for() { # SECONDS COMMAND...: polls every 0.2 s
  n=$(($1 * 5)); shift
  while [ $n -gt 0 ]; do "$@" >/dev/null 2>&1 && return 0; sleep 0.2; n=$((n - 1)); done
  return 1
}

ip link set lo up
modprobe mac80211_hwsim radios=6 && for m in ccm ctr gcm cmac bridge; do modprobe $m; done || { bad "modprobe"; finish; }
wait_for 20 test -e /sys/class/net/wlan5 || { bad "no wlan5 after loading mac80211_hwsim"; finish; }
clients="1:psk 2:vlan 3:sae 4:eap 5:open"
for c in 1 2 3 4 5; do
  unshare -n sleep 100000 &
  eval "ns$c=$!"
  wait_for 10 sh -c "[ \"\$(readlink /proc/$!/ns/net)\" != \"\$(readlink /proc/self/ns/net)\" ]" &&
    iw phy "$(cat /sys/class/net/wlan$c/phy80211/name)" set netns $! || { bad "client namespace $c"; finish; }
done
# The driver keeps noise figures only for channels it switched to in a scan:
# hop from a neighbour onto the access point's channel.
ip link set wlan0 up && iw dev wlan0 scan freq 2417 2412 >/dev/null 2>&1; ip link set wlan0 down
hostapd -B /opt/qv/hostapd.conf >/tmp/hostapd.log 2>&1 || { cat /tmp/hostapd.log; bad "hostapd"; finish; }
ip addr add 169.254.77.1/24 dev wlan0
for c in $clients; do
  eval "nsenter -t \$ns${c%:*} -n sh -c 'ip link set lo up; ip link set wlan${c%:*} up; ip addr add 169.254.77.$((${c%:*} + 1))/24 \
    dev wlan${c%:*}; wpa_supplicant -B -i wlan${c%:*} -c /opt/qv/wpa_supplicant-${c#*:}.conf'" >/dev/null || bad "wpa_supplicant $c"
done
aps=$(ls /sys/class/net | grep '^wlan0')
dump() { for i in $aps; do iw dev $i station dump; done; }
authorized() { [ "$(dump | grep -c 'authorized:.*yes')" -ge 5 ]; }
wait_for 90 authorized || { bad "clients did not associate: $(dump | grep -c 'authorized:.*yes') of 5"; finish; }
wait_for 20 ping -c 1 -W 1 169.254.77.2 || bad "ping 169.254.77.2 across the simulated air"

# Agent A keeps a snapshot 30 s (the snmpd.conf directive); B takes one on every walk.
for agent in a:1161 b:1162; do
  set -- ${agent%:*} ${agent#*:}
  QV_NL80211_TRACE=1 snmpd -C -c /opt/qv/snmpd-$1.conf -Lf /tmp/snmpd-$1.log -p /tmp/snmpd-$1.pid udp:127.0.0.1:$2
  wait_for 30 snmpget -v2c -c public 127.0.0.1:$2 .1.3.6.1.2.1.1.3.0 || { cat /tmp/snmpd-$1.log; bad "snmpd $1"; finish; }
done
A="-v2c -c public -t 5 -r 1 127.0.0.1:1161" B="-v2c -c public -t 5 -r 1 127.0.0.1:1162"
T=.1.3.6.1.4.1.32473.1.1.1.2.1

# What iw and sysfs say; the WPA2-PSK client at 169.254.77.2 is checked column by column, the
# others for what hostapd knows. $psk, $vlan, ...: each client's association index.
info() { iw dev wlan0 info | sed -n "s/^[[:space:]]*$1.*/\1/p" | head -n 1; }
ifindex=$(cat /sys/class/net/wlan0/ifindex) phy=$(cat /sys/class/net/wlan0/phy80211/index)
ssid=$(info 'ssid \(.*\)') chan=$(info 'channel \([0-9]*\) .*')
freq=$(info 'channel [0-9]* (\([0-9]*\) MHz).*') txpower=$(info 'txpower \([0-9]*\)\..*')
bssid=$(cat /sys/class/net/wlan0/address)
noise=$(iw dev wlan0 survey dump | awk -v f="$freq" '$1 == "frequency:" {hit = $2 == f || /in use/} hit && $1 == "noise:" {print $2; exit}')
mac() { eval nsenter -t \$ns$1 -n ip link show wlan$1 | awk '$1 == "link/ether" {print $2}'; }
for c in $clients; do
  bss=$(dump | awk -v m="$(mac ${c%:*})" '$2 == m {sub(/\)/, "", $4); print $4}' | sed 's/\..*//')
  eval "${c#*:}=$(cat /sys/class/net/$bss/ifindex).6.$(mac ${c%:*} | tr ':' ' ' | { read a b c d e f
    printf '%d.%d.%d.%d.%d.%d' 0x$a 0x$b 0x$c 0x$d 0x$e 0x$f; })"
done
sta=$(mac 1)
field() { awk -v k="$1" '$0 ~ "^[ \t]*"k":" {sub(/^[^:]*:[ \t]*/, ""); n += $1} END {print n}'; }
kernel() { # sta|sum|sys|phy FIELD: a counter of the checked client, of wlan0's clients, of wlan0, of the radio
  case $1 in
    sta | sum) how=dump && [ $1 = sta ] && how="get $sta"; shift; iw dev wlan0 station $how | field "$*" ;;
    sys) cat /sys/class/net/wlan0/statistics/$2 ;;
    phy) for i in $aps; do cat /sys/class/net/$i/statistics/$2; done | awk '{n += $1} END {print n}' ;;
  esac
}
signal=$(kernel sta signal)

tab=$(printf '\t')
while IFS=$tab read -r column row check expected; do
  case $column in '#'* | column) continue ;; esac
  eval "row=$row expected=\"$expected\""
  set -- $(awk -F'\t' -v c="$column" '$4 == c {print $2 ".1." $3, $5}' /opt/qv/columns.tsv)
  [ "$2" = mac ] && x=x || x=
  [ "$check" = between ] && lo=$(kernel $expected)
  got=$(snmpget $B -Oqv$x "$T.$1.$row" 2>&1 | tr -d '"' | tr 'A-F' 'a-f' | sed "s/ *\$//; ${x:+s/ /:/g}")
  case $check in
    =) [ "$got" = "$expected" ] ;;
    \>) [ "$got" -gt "$expected" ] 2>/dev/null ;;
    between) hi=$(kernel $expected) expected="$lo..$hi" && [ "$lo" -le "$got" ] 2>/dev/null && [ "$got" -le "$hi" ] ;;
  esac && ok "$column.$row = $got" || bad "$column.$row: want $check '$expected', got '$got'"
done </opt/qv/checks.tsv

# The client radios live in other namespaces: this agent must not see them.
rows=$(snmpwalk $B -On $T.5.1.1 2>/dev/null | grep -c "^$T.5.1.1\.")
[ "$rows" = 1 ] && ok "one radio attribute row" || bad "radio attribute rows: $rows, want 1"
# A full walk restarts the agent's iteration for every value: A (30 s) takes
# one snapshot for it, also 1.5 s later; B (age 0) one per restart.
snapshots() { grep -c 'snapshot of associations' /tmp/snmpd-$1.log; }
want=$(($(grep -c '^qvAssociationTable' /opt/qv/columns.tsv) * $(dump | grep -c '^Station')))
a0=$(snapshots a) b0=$(snapshots b)
vals=$(snmpwalk $A -On $T.2 | grep -c "^$T.2.1\.")
sleep 1.5
snmpwalk $A -On $T.2 >/dev/null && snmpwalk $B -On $T.2 >/dev/null
a1=$(snapshots a) b1=$(snapshots b)
[ "$vals" = $want ] && [ $((a1 - a0)) = 1 ] && [ $((b1 - b0)) -ge "$vals" ] &&
  ok "association walk: $vals values, snapshots A $((a1 - a0)), B $((b1 - b0))" ||
  bad "association walk: $vals values (want $want), snapshots A $((a1 - a0)) (want 1), B $((b1 - b0))"
# B's leases file is a FIFO: refused at once, logged once, not once per walk.
n=$(grep -c 'not reading the leases file /tmp/leases.fifo: it is not a regular file' /tmp/snmpd-b.log)
[ "$n" = 1 ] && ok "leases FIFO refused, logged once" || bad "leases FIFO logged $n times, want 1"

# hostapd stopped: its columns fall back to the kernel's; a snapshot waits 250 ms at most and
# each socket that did not answer is left alone 10 s, so of a whole walk's snapshots (one per
# value) at most two wait; resumed, hostapd is asked again. No descriptor of B's grows.
auth() { snmpget $B -Oqv $T.2.1.7.$sae; }
fds() { ls /proc/$(cat /tmp/snmpd-b.pid)/fd | wc -l; }
fd0=$(fds) log0=$(wc -l </tmp/snmpd-b.log)
kill -STOP "$(pidof hostapd)" && snmpwalk $B -On $T.2 >/dev/null && stopped=$(auth)
waits=$(tail -n +$log0 /tmp/snmpd-b.log | sed -n 's/.* answers in \([0-9]*\) ms$/\1/p' | sort -n)
slow=$(echo "$waits" | awk '$1 >= 90' | wc -l) most=$(echo "$waits" | tail -n 1)
kill -CONT "$(pidof hostapd)" && sleep 10.5
[ "$stopped" = 0 ] && [ "$slow" -le 2 ] && [ "$most" -le 300 ] && [ "$(auth)" = 8 ] && [ "$(fds)" = "$fd0" ] &&
  ok "hostapd stopped: SAE auth 0, $slow snapshots waited, longest $most ms; resumed: 8; $fd0 fds" ||
  bad "hostapd stopped: SAE auth $stopped (want 0), $slow snapshots waited (want <= 2), longest $most ms" \
    "(want <= 250 and some slack), resumed $(auth) (want 8), fds $(fds) (were $fd0)"
finish
