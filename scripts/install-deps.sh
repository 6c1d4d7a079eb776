#!/usr/bin/env bash
# Installs every Debian package the project needs (scripts/deps/*.list, one
# package a line) that is not installed yet, then runs scripts/deps/*.sh for
# what Debian does not ship as a package. Safe to run again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

mapfile -t wanted < <(cat "$here"/deps/*.list | sed -e 's/#.*//' -e 's/[[:space:]]//g' | grep -v '^$' | sort -u)
missing=()
for pkg in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  SUDO=; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# Debian starts snmpd as a service on install; our tools start their own.
for script in "$here"/deps/*.sh; do
  [ -e "$script" ] || continue
  bash "$script"
done
