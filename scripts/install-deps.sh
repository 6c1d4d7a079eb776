#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Installs every Debian package the project needs (scripts/deps/*.list, one
# package a line) that is not installed yet, then runs scripts/deps/*.sh for
# what Debian does not ship as a package. Safe to run again.
# Usage: install-deps.sh [GROUP...]   (groups: the names in scripts/deps/;
# default: all of them)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

lists=() scripts=()
if [ $# -eq 0 ]; then
  lists=("$here"/deps/*.list)
  scripts=("$here"/deps/*.sh)
else
  for group in "$@"; do
    [ -e "$here/deps/$group.list" ] || [ -e "$here/deps/$group.sh" ] || { echo "install-deps: no group $group" >&2; exit 2; }
    [ -e "$here/deps/$group.list" ] && lists+=("$here/deps/$group.list")
    [ -e "$here/deps/$group.sh" ] && scripts+=("$here/deps/$group.sh")
  done
fi

mapfile -t wanted < <(cat /dev/null "${lists[@]}" | sed -e 's/#.*//' -e 's/[[:space:]]//g' | grep -v '^$' | sort -u)
missing=()
for pkg in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  SUDO=; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
  echo "install-deps: installed ${#missing[@]} Debian package(s)" >&2
else
  echo "install-deps: all ${#wanted[@]} Debian package(s) of ${*:-every group} already installed" >&2
fi
for script in "${scripts[@]}"; do
  [ -e "$script" ] || continue
  bash "$script"
done
