#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Source packages for the cross-builds: Net-SNMP for 32-bit MIPS, musl
# and PowerPC is built from Debian's own source package (no Debian sysroot
# exists for those), so apt needs deb-src lines. They go into a file of our
# own; debian.sources is left alone. Safe to run again.
set -euo pipefail

list=/etc/apt/sources.list.d/qv-wlan-snmp-src.sources
SUDO=; [ "$(id -u)" -eq 0 ] || SUDO=sudo

if [ ! -e "$list" ]; then
  $SUDO tee "$list" >/dev/null <<'SRC'
# qv-wlan-snmp: Debian source packages (Net-SNMP cross-builds)
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi
if ! apt-cache showsrc net-snmp 2>/dev/null | grep -q '^Package: net-snmp'; then
  $SUDO apt-get update -q
fi
