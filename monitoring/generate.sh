#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Makes both snmp_exporter configurations from generator.yml with Debian's
# prometheus-snmp-generator (0.21):
#   snmp.yml          0.21 format (Debian 12's exporter): version and auth in
#                     each module: every module of generator.yml (v2c) and
#                     its NAME_v3 twin with qv_wlan_v3's auth
#   snmp-current.yml  format of exporter 0.23 and later: the same modules,
#                     auths qv_v2c and qv_v3 chosen per scrape with auth=
# The current format is a transformation of the generated file (no current
# generator is packaged for Debian 12); the metrics are the same.
# The v3 passphrases stay ${QV_SNMP_V3_...} references in both files;
# --secrets writes a copy with them filled in from the environment, outside
# the checkout.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: generate.sh [-o DIR] [--check]
       generate.sh [-o DIR] --secrets FILE [--format 0.21|current]

  -o DIR        the folder of generator.yml, snmp.yml and snmp-current.yml
                (default: the folder of this script)
  --check       generate into a scratch folder and fail when the files in
                DIR differ from what generator.yml makes
  --secrets FILE  write a copy of DIR's snmp.yml (or snmp-current.yml) with
                the SNMPv3 passphrases taken from QV_SNMP_V3_AUTH_PASS and
                QV_SNMP_V3_PRIV_PASS into FILE, readable by root and the
                prometheus group only; FILE's folder must be writable by
                root or you only
  --format F    the format of --secrets: 0.21 (default) or current
Environment: MIBDIRS, where to look for QV-WLAN-MIB and its base modules
(default: the checkout's mibs/, /usr/local/share/qv-wlan-snmp/base-mibs,
/usr/share/snmp/mibs).
EOF
}

here=$(cd "$(dirname "$0")" && pwd)
out=$here check='' secrets='' format=0.21
while [ $# -gt 0 ]; do
  case $1 in
    -o) out=${2:?-o needs a folder}; shift 2 ;;
    --check) check=1; shift ;;
    --secrets) secrets=${2:?--secrets needs a file}; shift 2 ;;
    --format) format=${2:?--format needs 0.21 or current}; shift 2 ;;
    -h | --help) usage; exit 0 ;;
    *) echo "generate.sh: unknown option '$1' (try --help)" >&2; exit 2 ;;
  esac
done
case $format in 0.21 | current) ;; *) echo "generate.sh: --format is 0.21 or current" >&2; exit 2 ;; esac

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

if [ -n "$secrets" ]; then
  # Only fills in the passphrases: no generator or MIB needed.
  case $(realpath -m "$secrets") in
    "$(realpath -m "$here/..")"/*) echo "generate.sh: $secrets is inside the checkout; secrets never go there" >&2; exit 2 ;;
  esac
  for v in QV_SNMP_V3_AUTH_PASS QV_SNMP_V3_PRIV_PASS; do
    [ -n "${!v:-}" ] || { echo "generate.sh: $v is not set" >&2; exit 2; }
  done
  src=$out/snmp.yml; [ "$format" = current ] && src=$out/snmp-current.yml
  # In a folder another user can write (even a sticky one), that user can
  # plant the name or a file in our way: refuse it. Written under a random
  # name there, restricted, then renamed over FILE in one step.
  target=$(realpath -e -- "$(dirname -- "$secrets")") || { echo "generate.sh: no folder for $secrets" >&2; exit 2; }
  [ -d "$target" ] || { echo "generate.sh: $target is not a folder" >&2; exit 2; }
  if [ -n "$(find "$target" -maxdepth 0 \( -perm /022 -o \! \( -uid 0 -o -uid "$(id -u)" \) \))" ]; then
    echo "generate.sh: $target can be written by other users than root and you; secrets never go there" >&2; exit 2
  fi
  umask 077
  tmp=$(mktemp "$target/.qv-secrets.XXXXXX")
  trap 'rm -rf "$scratch"; rm -f "$tmp"' EXIT
  python3 "$here/snmpconf.py" --expand "$src" "$tmp"
  if getent group prometheus >/dev/null; then chgrp prometheus "$tmp"; chmod 0640 "$tmp"; fi
  mv -fT "$tmp" "$target/${secrets##*/}"
  echo "wrote $secrets ($format format, mode $(stat -c %a "$secrets"))"
  exit 0
fi

# The generator parses every MIB in its path, so it gets only the modules it
# needs (others in /usr/share/snmp/mibs fail to parse), found in: MIBDIRS, or
# the checkout's mibs/, the base modules of scripts/deps/mib.sh and the
# installed MIB folder.
search=${MIBDIRS:-$here/../mibs:/usr/local/share/qv-wlan-snmp/base-mibs:/usr/share/snmp/mibs}
mkdir "$scratch/mibs"
for module in QV-WLAN-MIB SNMPv2-SMI SNMPv2-TC SNMPv2-CONF SNMPv2-MIB; do
  file=''
  for dir in ${search//:/ }; do
    [ -d "$dir" ] || continue
    file=$(grep -l -s -E "^[[:space:]]*$module[[:space:]]+DEFINITIONS" "$dir"/* | head -n1) && [ -n "$file" ] && break
  done
  [ -n "$file" ] || { echo "generate.sh: MIB module $module not found in $search" >&2; exit 1; }
  ln -s "$(realpath "$file")" "$scratch/mibs/$module.txt"
done
export MIBDIRS=$scratch/mibs

# The generator reads generator.yml from its working folder.
cp "$out/generator.yml" "$scratch/"
(cd "$scratch" && prometheus-snmp-generator --fail-on-parse-errors generate -o raw.yml) >"$scratch/log" 2>&1 ||
  { cat "$scratch/log" >&2; exit 1; }
python3 "$here/snmpconf.py" "$scratch/raw.yml" "$scratch"

if [ -n "$check" ]; then
  status=0
  for f in snmp.yml snmp-current.yml; do
    diff -u "$out/$f" "$scratch/$f" >&2 || { echo "generate.sh: $out/$f is out of date: run monitoring/generate.sh" >&2; status=1; }
  done
  exit $status
else
  cp "$scratch/snmp.yml" "$scratch/snmp-current.yml" "$out/"
  echo "wrote $out/snmp.yml and $out/snmp-current.yml"
fi
