#!/usr/bin/env bash
# Makes both snmp_exporter configurations from generator.yml with Debian's
# prometheus-snmp-generator (0.21):
#   snmp.yml          0.21 format (Debian 12's exporter): version and auth in
#                     each module, modules qv_wlan (v2c) and qv_wlan_v3
#   snmp-current.yml  format of exporter 0.23 and later: one module qv_wlan,
#                     auths qv_v2c and qv_v3 chosen per scrape with auth=
# The current format is a transformation of the generated file (no current
# generator is packaged for Debian 12); the metrics are the same.
# The v3 secrets stay ${QV_SNMP_V3_...} references in both files; --secrets
# writes a copy with them filled in from the environment, outside the checkout.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: generate.sh [-o DIR] [--check]
       generate.sh --secrets FILE [--format 0.21|current]

  -o DIR        where to write snmp.yml and snmp-current.yml (default: the
                folder of this script)
  --check       generate into a scratch folder and fail when the files in
                DIR differ from what generator.yml makes
  --secrets FILE  write one configuration with the SNMPv3
                passphrases taken from QV_SNMP_V3_AUTH_PASS and
                QV_SNMP_V3_PRIV_PASS into FILE, readable by root and the
                prometheus group only
  --format F    the format of --secrets: 0.21 (default) or current
Environment: MIBDIRS (default: the base modules of scripts/deps/mib.sh and
the checkout's mibs/, or /usr/share/snmp/mibs outside a checkout).
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

# The checkout's MIB when run from a checkout, else the installed one.
mibdir=/usr/share/snmp/mibs; [ -e "$here/../mibs/QV-WLAN-MIB.txt" ] && mibdir=$(cd "$here/../mibs" && pwd)
export MIBDIRS=${MIBDIRS:-/usr/local/share/qv-wlan-snmp/base-mibs:$mibdir}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The generator reads generator.yml from its working folder.
cp "$here/generator.yml" "$scratch/"
(cd "$scratch" && prometheus-snmp-generator --fail-on-parse-errors generate -o raw.yml) >"$scratch/log" 2>&1 ||
  { cat "$scratch/log" >&2; exit 1; }
python3 "$here/snmpconf.py" "$scratch/raw.yml" "$scratch"

if [ -n "$secrets" ]; then
  case $(realpath -m "$secrets") in
    "$(realpath "$here/..")"/*) echo "generate.sh: $secrets is inside the checkout; secrets never go there" >&2; exit 2 ;;
  esac
  for v in QV_SNMP_V3_AUTH_PASS QV_SNMP_V3_PRIV_PASS; do
    [ -n "${!v:-}" ] || { echo "generate.sh: $v is not set" >&2; exit 2; }
  done
  src=$scratch/snmp.yml; [ "$format" = current ] && src=$scratch/snmp-current.yml
  umask 077
  python3 "$here/snmpconf.py" --expand "$src" "$secrets.tmp"
  if getent group prometheus >/dev/null; then chgrp prometheus "$secrets.tmp"; chmod 0640 "$secrets.tmp"; fi
  mv "$secrets.tmp" "$secrets"
  echo "wrote $secrets ($format format, mode $(stat -c %a "$secrets"))"
elif [ -n "$check" ]; then
  status=0
  for f in snmp.yml snmp-current.yml; do
    diff -u "$out/$f" "$scratch/$f" >&2 || { echo "generate.sh: $out/$f is out of date: run monitoring/generate.sh" >&2; status=1; }
  done
  exit $status
else
  cp "$scratch/snmp.yml" "$scratch/snmp-current.yml" "$out/"
  echo "wrote $out/snmp.yml and $out/snmp-current.yml"
fi
