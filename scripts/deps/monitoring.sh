#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# A current snmp_exporter beside Debian 12's 0.21, for monitoring.live: the
# prometheus-snmp-exporter package of Debian 13 (trixie), unpacked with
# dpkg-deb -x into one fixed folder, never installed. apt fetches it through
# a private configuration in a scratch folder (its own sources list, lists
# and cache; the dpkg status is not touched), so the system's apt sources
# and pins stay exactly as they were. The archive's address is the one the
# system's own sources use for Debian 12; the signature is checked with
# debian-archive-keyring, which carries the trixie keys. Safe to run again:
# does nothing when a trixie exporter is in place.
set -euo pipefail

dest=${QV_CURRENT_EXPORTER_DIR:-/usr/local/lib/qv-wlan-snmp/snmp-exporter-trixie}
keyring=/usr/share/keyrings/debian-archive-keyring.gpg

if [ -x "$dest/usr/bin/prometheus-snmp-exporter" ]; then
  echo "monitoring.sh: trixie's snmp_exporter already in $dest" >&2
  exit 0
fi

# The first Debian archive (not its security archive) in the system's
# sources, in either the deb822 or the one-line format.
mirror=$(python3 - <<'EOF'
import glob, re
for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
    for stanza in re.split(r"\n\s*\n", open(path).read()):
        f = dict(re.findall(r"^([\w-]+):\s*(.*)$", stanza, re.M))
        suites = f.get("Suites", "").split()
        if "deb" in f.get("Types", "").split() and f.get("Enabled", "yes") != "no" \
                and any(s.startswith("bookworm") and "security" not in s for s in suites):
            print(f["URIs"].split()[0]); raise SystemExit
for path in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
    try:
        lines = open(path).read().splitlines()
    except OSError:
        continue
    for line in lines:
        m = re.match(r"\s*deb\s+(?:\[[^]]*\]\s+)?(\S+)\s+(bookworm\S*)", line)
        if m and "security" not in m.group(2):
            print(m.group(1)); raise SystemExit
EOF
)
[ -n "$mirror" ] || { echo "monitoring.sh: no Debian 12 archive in /etc/apt/sources*: cannot derive the trixie source" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/archives/partial" "$work/parts" "$work/prefs"
echo "deb [signed-by=$keyring] $mirror trixie main" >"$work/sources.list"
apt_private=(-o "Dir::Etc::SourceList=$work/sources.list" -o "Dir::Etc::SourceParts=$work/parts"
  -o "Dir::Etc::Preferences=$work/prefs/none" -o "Dir::Etc::PreferencesParts=$work/prefs"
  -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work" -o "Dir::Cache::archives=$work/archives"
  -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root")
apt-get -q "${apt_private[@]}" update >"$work/update.log" 2>&1 ||
  { cat "$work/update.log" >&2; echo "monitoring.sh: apt could not read trixie from $mirror" >&2; exit 1; }
(cd "$work" && apt-get -q "${apt_private[@]}" download prometheus-snmp-exporter) >"$work/download.log" 2>&1 ||
  { cat "$work/download.log" >&2; exit 1; }

SUDO=; [ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO rm -rf "$dest.new"
$SUDO mkdir -p "$dest.new"
$SUDO dpkg-deb -x "$work"/prometheus-snmp-exporter_*.deb "$dest.new"
"$dest.new/usr/bin/prometheus-snmp-exporter" --version >/dev/null 2>&1 ||
  { echo "monitoring.sh: the unpacked trixie exporter does not run here (ldd $dest.new/usr/bin/prometheus-snmp-exporter)" >&2; exit 1; }
$SUDO rm -rf "$dest"
$SUDO mv "$dest.new" "$dest"
echo "monitoring.sh: $(basename "$work"/prometheus-snmp-exporter_*.deb) from $mirror unpacked in $dest" >&2
