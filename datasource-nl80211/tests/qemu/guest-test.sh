#!/usr/bin/env bash
# Boots a throw-away QEMU guest (Debian's kernel, mac80211_hwsim with two
# radios, hostapd on one, a wpa_supplicant client in its own network
# namespace on the other) with snmpd, the module and the nl80211 data source
# inside, and lets the guest check that the five tables answer with what
# `iw` and the kernel report. Everything comes from Debian packages: the
# kernel is fetched with `apt-get download` and cached; the access point's
# programs and their libraries are the host's (scripts/deps/nl80211.list).
#
# Usage: guest-test.sh MODULE.so DATASOURCE.so [WORKDIR]
# Exit: 0 all checks passed, 77 QEMU cannot run here, else failure.
set -euo pipefail

module=$(realpath "$1")
datasource=$(realpath "$2")
work=${3:-$(mktemp -d /tmp/qv-guest.XXXXXX)}
here=$(cd "$(dirname "$0")" && pwd)
cache=${QV_GUEST_CACHE:-/var/cache/qv-wlan-snmp/guest}
timeout_s=${QV_GUEST_TIMEOUT:-240}

skip() { echo "SKIP: $*"; exit 77; }
die() { echo "FAIL: $*" >&2; exit 1; }
now() { date +%s.%N; }
t0=$(now)
lap() { awk -v a="$t0" -v b="$(now)" -v m="$*" 'BEGIN {printf "[%6.1fs] %s\n", b - a, m}'; }

command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed (scripts/install-deps.sh installs it)"
qemu-system-x86_64 -accel help 2>/dev/null | grep -qx tcg || skip "this QEMU has no TCG accelerator"
case "$(ldd /bin/busybox 2>&1 || true)" in
  *"not a dynamic"*) ;;
  *) die "/bin/busybox is missing or not the static busybox (package busybox-static)" ;;
esac
for bin in /usr/sbin/hostapd /usr/sbin/wpa_supplicant /usr/sbin/iw /usr/sbin/snmpd /usr/bin/snmpget /usr/bin/snmpwalk; do
  [ -x "$bin" ] || die "$bin missing: run scripts/install-deps.sh"
done

# --- kernel: Debian's current linux-image-amd64, cached --------------------
mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9
kpkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/{print $2; exit}')
if [ -z "$kpkg" ]; then
  apt-get update -q >/dev/null
  kpkg=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/{print $2; exit}')
fi
[ -n "$kpkg" ] || die "cannot tell which linux-image package linux-image-amd64 stands for"
kdir=$cache/$kpkg
if [ ! -f "$kdir/.complete" ]; then
  lap "fetching $kpkg"
  rm -rf "$kdir" && mkdir -p "$kdir/deb"
  (cd "$kdir/deb" && apt-get download -q "$kpkg" >/dev/null 2>&1) ||
    { apt-get update -q >/dev/null; (cd "$kdir/deb" && apt-get download -q "$kpkg" >/dev/null); }
  dpkg-deb -x "$kdir"/deb/*.deb "$kdir/root"
  rm -rf "$kdir/deb"
  kver=$(ls "$kdir/root/lib/modules")
  /bin/busybox depmod -b "$kdir/root" "$kver"
  touch "$kdir/.complete"
fi
kver=$(ls "$kdir/root/lib/modules")
vmlinuz=$kdir/root/boot/vmlinuz-$kver
flock -u 9
lap "kernel $kver"

# --- initramfs --------------------------------------------------------------
root=$work/root
rm -rf "$root" && mkdir -p "$root"/{bin,dev,proc,sys,tmp,run,etc,opt/qv,var/run}
cp /bin/busybox "$root/bin/busybox"
copy_with_libs() {
  local f lib
  for f in "$@"; do
    cp -L --parents "$f" "$root"
    for lib in $(ldd "$f" | awk '/=> \//{print $3} /^[ \t]*\/lib/{print $1}'); do
      [ -e "$root$lib" ] || cp -L --parents "$lib" "$root"
    done
  done
}
copy_with_libs /usr/sbin/hostapd /usr/sbin/wpa_supplicant /usr/sbin/iw /usr/sbin/snmpd /usr/bin/snmpget /usr/bin/snmpwalk
cp "$module" "$root/opt/qv/qv_if_iterate.so"
cp "$datasource" "$root/opt/qv/qv_wlan_nl80211.so"
copy_with_libs "$root/opt/qv/qv_wlan_nl80211.so" "$root/opt/qv/qv_if_iterate.so"
ln -sf /proc/self/mounts "$root/etc/mtab"
echo 'root:x:0:0:root:/:/bin/sh' >"$root/etc/passwd"
echo 'root:x:0:' >"$root/etc/group"

# Kernel modules: the closure of what the guest loads, from modules.dep.
want="mac80211_hwsim ccm ctr gcm cmac"
mods=$(awk -v want="$want" '
  { split($0, kv, ":"); name = kv[1]; sub(/.*\//, "", name); sub(/\.ko.*/, "", name); dep[name] = $0 }
  END {
    n = split(want, q, " ")
    for (i = 1; i <= n; i++) todo[q[i]] = 1
    changed = 1
    while (changed) {
      changed = 0
      for (m in todo) if (!(m in done)) {
        done[m] = 1; changed = 1
        line = dep[m]; split(line, kv, ":"); print kv[1]
        k = split(kv[2], ds, " ")
        for (j = 1; j <= k; j++) { d = ds[j]; sub(/.*\//, "", d); sub(/\.ko.*/, "", d); todo[d] = 1 }
      }
    }
  }' "$kdir/root/lib/modules/$kver/modules.dep" | sort -u)
for m in $mods; do
  mkdir -p "$root/lib/modules/$kver/$(dirname "$m")"
  cp "$kdir/root/lib/modules/$kver/$m" "$root/lib/modules/$kver/$m"
done
/bin/busybox depmod -b "$root" "$kver"
cp "$here/guest-init.sh" "$root/init"
chmod +x "$root/init"
initrd=$work/initrd.cpio
(cd "$root" && find . | cpio -o -H newc --quiet) >"$initrd"
lap "initramfs $(du -m "$initrd" | cut -f1) MB, modules: $(echo $mods | wc -w)"

# --- boot -------------------------------------------------------------------
serial=$work/serial.log
rc=0
timeout "$timeout_s" qemu-system-x86_64 -nodefaults -no-user-config -accel tcg -cpu max -smp 1 -m 1024 \
  -display none -nic none -no-reboot -serial "file:$serial" \
  -kernel "$vmlinuz" -initrd "$initrd" \
  -append "console=ttyS0 panic=-1 quiet loglevel=3 rdinit=/init" || rc=$?
lap "guest finished (qemu exit $rc)"
grep -a '^QVTEST' "$serial" || true
if [ "$rc" = 124 ]; then
  echo "--- serial log (timed out after ${timeout_s}s) ---"; tail -n 80 "$serial"; die "guest timed out"
fi
summary=$(grep -a '^QVTEST DONE' "$serial" | tail -n 1)
[ -n "$summary" ] || { echo "--- serial log ---"; tail -n 120 "$serial"; die "guest ended without a summary"; }
if ! echo "$summary" | grep -q 'fail=0'; then
  echo "--- serial log ---"; cat "$serial"; die "guest checks failed"
fi
echo "$summary" | grep -q 'pass=[1-9]' || die "guest ran no check"
lap "all guest checks passed; serial log: $serial"
