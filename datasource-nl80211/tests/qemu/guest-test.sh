#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Boots a throw-away QEMU guest (guest-init.sh) with Debian's kernel, the
# access point's programs and their libraries from this host
# (scripts/deps/nl80211.list), snmpd, the module and the nl80211 data source.
# TCG only: KVM guests do not start on this kind of machine (nested).
# The kernel is fetched with `apt-get download` once and cached.
#
# Usage: guest-test.sh MODULE.so DATASOURCE.so WORKDIR
# Exit: 0 all checks passed, 77 QEMU cannot run here, else failure.
set -euo pipefail
module=$(realpath "$1") datasource=$(realpath "$2") work=$3 here=$(cd "$(dirname "$0")" && pwd)
cache=${QV_GUEST_CACHE:-/var/cache/qv-wlan-snmp/guest}
skip() { echo "SKIP: $*"; exit 77; }
die() { echo "FAIL: $*" >&2; exit 1; }
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed (scripts/install-deps.sh)"
qemu-system-x86_64 -accel help 2>/dev/null | grep -qx tcg || skip "this QEMU has no TCG accelerator"
{ ldd /bin/busybox 2>&1 || true; } | grep -q 'not a dynamic' || die "/bin/busybox is not the static busybox (busybox-static)"

# Debian's current kernel, unpacked once, with a module index.
mkdir -p "$cache" && exec 9>"$cache/.lock" && flock 9
kernel() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}'; }
kpkg=$(kernel) && [ -n "$kpkg" ] || kpkg=$(apt-get update -q >/dev/null && kernel)
[ -n "$kpkg" ] || die "cannot tell which kernel package linux-image-amd64 stands for (apt-get update?)"
kdir=$cache/$kpkg
if [ ! -f "$kdir/.complete" ]; then
  rm -rf "$kdir" && mkdir -p "$kdir" && (cd "$kdir" && apt-get download -q "$kpkg" >/dev/null)
  dpkg-deb -x "$kdir"/*.deb "$kdir/root" && rm "$kdir"/*.deb
  busybox depmod -b "$kdir/root" "$(ls "$kdir/root/lib/modules")" && touch "$kdir/.complete"
fi
flock -u 9
kver=$(ls "$kdir/root/lib/modules") mods=$kdir/root/lib/modules/$kver

root=$work/root
rm -rf "$root" && mkdir -p "$root"/{bin,dev,proc,sys,run,var,etc,opt/qv} && ln -s ../run "$root/var/run"
cp /bin/busybox "$root/bin/" && cp "$here/guest-init.sh" "$root/init"
cp "$here"/{*.conf,hostapd.*,checks.tsv} "$here/../../../tests/reference/columns.tsv" "$root/opt/qv/"
cp "$module" "$root/opt/qv/qv_if_iterate.so" && cp "$datasource" "$root/opt/qv/qv_wlan_nl80211.so"
# The EAP server's throwaway certificate, made for this run only.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -subj /CN=qv-guest-eap \
  -keyout "$root/opt/qv/eap-server.key" -out "$root/opt/qv/eap-server.pem" 2>/dev/null
# OpenSSL 3 keeps MD4 (MSCHAPv2, inside PEAP) in its legacy provider.
legacy=$(openssl version -m | sed -n 's/^MODULESDIR: "\(.*\)"/\1/p')/legacy.so
bins=(/usr/sbin/{hostapd,wpa_supplicant,iw,snmpd} /usr/bin/{snmpget,snmpwalk} "$legacy")
cp -L --parents "${bins[@]}" "$root"
ldd "${bins[@]}" "$module" "$datasource" | awk '/=> \// {print $3} /^\t\/lib/ {print $1}' | sort -u |
  xargs cp -L --parents -t "$root"
echo 'root:x:0:0:root:/:/bin/sh' >"$root/etc/passwd" && echo 'root:x:0:' >"$root/etc/group"
ln -s /proc/self/mounts "$root/etc/mtab"
# The kernel modules the guest loads; modules.dep lists each one's dependencies, all of them.
for f in $(grep -E '(^|/)(mac80211_hwsim|ccm|ctr|gcm|cmac|bridge)\.ko[^:]*:' "$mods/modules.dep" | tr -d :); do
  mkdir -p "$root/lib/modules/$kver/${f%/*}" && cp "$mods/$f" "$root/lib/modules/$kver/$f"
done
busybox depmod -b "$root" "$kver"
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initrd.cpio"

rc=0
timeout "${QV_GUEST_TIMEOUT:-240}" qemu-system-x86_64 -nodefaults -no-user-config -accel tcg -cpu max -smp 1 -m 1024 \
  -display none -nic none -no-reboot -serial "file:$work/serial.log" -kernel "$kdir/root/boot/vmlinuz-$kver" \
  -initrd "$work/initrd.cpio" -append "console=ttyS0 panic=-1 quiet loglevel=3 rdinit=/init" || rc=$?
grep -a '^QVTEST' "$work/serial.log" || true
summary=$(grep -a '^QVTEST DONE' "$work/serial.log" | tail -n 1)
if [ "$rc" = 124 ] || ! grep -q 'pass=[1-9][0-9]* fail=0' <<<"$summary"; then
  echo "--- serial log (qemu exit $rc) ---" && tail -n 150 "$work/serial.log" && die "guest checks failed or did not finish"
fi
