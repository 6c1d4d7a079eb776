#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Installs the IETF base MIB modules (SNMPv2-SMI, SNMPv2-TC, SNMPv2-CONF,
# SNMPv2-MIB, IF-MIB, IANAifType-MIB) that Debian does not ship but that
# smilint, Net-SNMP's tools and the snmp_exporter generator need to read
# QV-WLAN-MIB. They come from the npm package net-snmp (lib/mibs), pinned, and
# land in one fixed folder; point MIBDIRS / SMIPATH there.
# Safe to run again: does nothing when the pinned version is in place.
set -euo pipefail

version=${QV_BASE_MIBS_NPM_VERSION:-3.29.2}
dest=${QV_BASE_MIB_DIR:-/usr/local/share/qv-wlan-snmp/base-mibs}
modules="SNMPv2-SMI SNMPv2-TC SNMPv2-CONF SNMPv2-MIB IF-MIB IANAifType-MIB"
stamp="$dest/.installed-net-snmp-$version"

if [ -e "$stamp" ]; then
  echo "mib.sh: base MIB modules from net-snmp@$version already in $dest" >&2
  exit 0
fi

if ! command -v npm >/dev/null 2>&1; then
  SUDO=; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends npm
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! (cd "$work" && npm pack --loglevel=error "net-snmp@$version" >/dev/null 2>"$work/npm.log"); then
  echo "mib.sh: npm could not fetch net-snmp@$version from the npm registry (network, proxy or certificates?):" >&2
  head -5 "$work/npm.log" >&2
  exit 1
fi
tar -xzf "$work"/net-snmp-"$version".tgz -C "$work" package/lib/mibs
for m in $modules; do
  [ -s "$work/package/lib/mibs/$m.mib" ] || { echo "mib.sh: $m missing from net-snmp@$version" >&2; exit 1; }
done

SUDO=; [ "$(id -u)" -eq 0 ] || [ -w "$(dirname "$dest")" ] || SUDO=sudo
$SUDO mkdir -p "$dest"
# Only the SMIv2 modules: the package's SMIv1 leftovers (RFC-1215 and
# friends) do not all resolve and would show up as parse errors in every tool.
$SUDO rm -f "$dest"/*.mib "$dest"/.net-snmp-* "$dest"/.installed-net-snmp-*
for m in $modules; do
  $SUDO cp "$work/package/lib/mibs/$m.mib" "$dest/"
done
$SUDO touch "$stamp"
echo "base MIB modules from net-snmp@$version installed in $dest" >&2
