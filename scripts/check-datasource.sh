#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Before deploying a data source: does the library export every function the
# module resolves from it? A missing one shows up in snmpd only as an
# "undefined symbol" when the module is loaded, easily mistaken for a
# load-order mistake. The list comes from src/datasource/qv_wlan_datasource.h
# (the preprocessor alone expands it).
#
# Usage: scripts/check-datasource.sh LIBRARY [DLMOD-NAME]
#   DLMOD-NAME  also check init_DLMOD-NAME, the entry QV_WLAN_DLMOD_ENTRY defines
# NM may name a cross toolchain's nm (NM=mipsel-openwrt-linux-musl-nm); CC the
# build machine's C compiler (default cc).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
lib=${1:?usage: check-datasource.sh LIBRARY [DLMOD-NAME]}
want=$(printf '%s\n' '#include "datasource/qv_wlan_datasource.h"' \
  '#define QV_CHECK_NAMES(kind, record, extra) qv_wlan_get_first_##kind qv_wlan_get_next_##kind' \
  'qv_check_names: QV_WLAN_ENTRY_KINDS(QV_CHECK_NAMES) qv_free_ref_mem' |
  ${CC:-cc} -E -P -I "$root/src" -x c - | sed -n 's/^qv_check_names: *//p')
[ -n "$want" ] || { echo "check-datasource: could not read the list from the header" >&2; exit 2; }
[ $# -ge 2 ] && want="$want init_$2"
symbols=$(${NM:-nm} -D --defined-only --format=posix "$lib")
defined=$(printf '%s\n' "$symbols" | awk '{sub(/@.*/, "", $1); print $1}')
missing=0 count=0
for name in $want; do
  count=$((count + 1))
  printf '%s\n' "$defined" | grep -qx "$name" || { echo "missing: $name"; missing=$((missing + 1)); }
done
if [ "$missing" -gt 0 ]; then
  echo "$lib: $missing of $count names not exported (QV_WLAN_DATASOURCE_API exports a function, QV_WLAN_DLMOD_ENTRY(NAME) defines init_NAME)"
  exit 1
fi
echo "$lib: all $count names exported"
