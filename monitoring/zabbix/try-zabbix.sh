#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# A scratch Zabbix 6.0 to try the template on one access point, with nothing
# installed system-wide beyond Debian's packages: a private PostgreSQL cluster,
# the server, and the frontend's API under PHP's built-in web server, all on
# loopback in one folder that is removed on exit.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: try-zabbix.sh [--agent HOST:PORT] [--community C] [--poll INTERVAL] [--import-only]

Starts a private Zabbix 6.0 (Debian packages zabbix-server-pgsql,
zabbix-frontend-php, php-pgsql, php-cli, postgresql), imports
qv-wlan-snmp-template.yaml, and with --agent adds that agent as an SNMPv2c
host linked to the template, discovering and polling every INTERVAL (default
10s). Prints the API address (user Admin, password zabbix) and serves until
Ctrl-C or SIGTERM. --import-only: stop after the import. Run as root.
  e.g. scripts/demo-agent.sh --port 1161 &  then  try-zabbix.sh --agent 127.0.0.1:1161
EOF
}

here=$(cd "$(dirname "$0")" && pwd)
agent='' community=public poll=10s import_only=''
while [ $# -gt 0 ]; do
  case $1 in
    --agent) agent=${2:?--agent needs HOST:PORT}; shift 2 ;;
    --community) community=${2:?}; shift 2 ;;
    --poll) poll=${2:?}; shift 2 ;;
    --import-only) import_only=1; shift ;;
    -h | --help) usage; exit 0 ;;
    *) echo "try-zabbix: unknown option '$1' (try --help)" >&2; exit 2 ;;
  esac
done
for tool in zabbix_server php psql /usr/lib/postgresql/15/bin/initdb; do
  command -v "$tool" >/dev/null || { echo "try-zabbix: $tool missing: apt-get install zabbix-server-pgsql zabbix-frontend-php php-pgsql php-cli postgresql" >&2; exit 2; }
done

# A free loopback TCP port, below 32768 (the most zabbix_server accepts).
free_port() {
  python3 -c 'import random, socket
for port in random.sample(range(20000, 32768), 200):
    try:
        socket.create_server(("127.0.0.1", port)).close(); print(port); break
    except OSError: pass'
}
dir=$(mktemp -d /tmp/qv-zabbix-XXXXXX)
chmod 755 "$dir"
pids=()
cleanup() {
  trap '' INT TERM  # a second signal must not cut the clean-up short
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -e "$dir/pg/postmaster.pid" ] && runuser -u postgres -- /usr/lib/postgresql/15/bin/pg_ctl -D "$dir/pg" -m fast stop >/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 0' INT TERM

# PostgreSQL on a socket in the folder only; durability is not needed here.
db=$dir/pg dbport=$(free_port) web=$(free_port) trapper=$(free_port)
mkdir "$db" && chown postgres "$db"
runuser -u postgres -- /usr/lib/postgresql/15/bin/initdb -D "$db" --auth=trust -U postgres >"$dir/initdb.log"
runuser -u postgres -- /usr/lib/postgresql/15/bin/pg_ctl -D "$db" -w -l "$db/log" \
  -o "-k $db -p $dbport -c listen_addresses='' -c fsync=off -c synchronous_commit=off" start >/dev/null
export PGOPTIONS='-c client_min_messages=error'
psql=(psql -h "$db" -p "$dbport" -U postgres -q -v ON_ERROR_STOP=1)
"${psql[@]}" -c "create database zabbix encoding 'UTF8' template template0"
for part in schema images data; do
  zcat "/usr/share/zabbix-server-pgsql/$part.sql.gz" | "${psql[@]}" -1 -d zabbix >/dev/null
done
echo "try-zabbix: database ready"

# A private copy of the frontend, told where its configuration is (Debian's
# build reads it from a fixed path under /etc).
cp -r /usr/share/zabbix "$dir/ui"
sed -i "s|/etc/zabbix/zabbix.conf.php|$dir/zabbix.conf.php|" "$dir/ui/include/classes/core/CConfigFile.php"
sed -e "s|'MYSQL'|'POSTGRESQL'|" -e "s|'localhost'|'$db'|" -e "s|= '0';|= '$dbport';|" \
  -e "/\$DB\['USER'\]/s|'zabbix'|'postgres'|" "$dir/ui/conf/zabbix.conf.php.example" >"$dir/zabbix.conf.php"
printf "\$ZBX_SERVER = '127.0.0.1';\n\$ZBX_SERVER_PORT = '%s';\n" "$trapper" >>"$dir/zabbix.conf.php"
php -S "127.0.0.1:$web" -t "$dir/ui" >"$dir/php.log" 2>&1 &
pids+=($!)

api() { # METHOD PARAMS-JSON: prints the result, fails on an API error
  local body
  body=$(jq -cn --arg m "$1" --argjson p "$2" --arg a "${token:-}" \
    '{jsonrpc: "2.0", method: $m, params: $p, id: 1} + (if $a == "" then {} else {auth: $a} end)')
  curl -sf -m 120 -H 'Content-Type: application/json-rpc' -d "$body" "http://127.0.0.1:$web/api_jsonrpc.php" |
    jq -ce 'if .error then error(.error | tostring) else .result end'
}
token=''
for _ in $(seq 1 50); do
  token=$(api user.login '{"username": "Admin", "password": "zabbix"}' 2>/dev/null | jq -r .) && break
  sleep 0.2
done
[ -n "$token" ] || { echo "try-zabbix: the frontend API does not answer; $dir/php.log:" >&2; cat "$dir/php.log" >&2; exit 1; }
rules=$(jq -cn '["groups", "templates", "items", "discoveryRules", "triggers"] | map({(.): {createMissing: true, updateExisting: true}}) | add')
api configuration.import "$(jq -cn --rawfile src "$here/qv-wlan-snmp-template.yaml" --argjson r "$rules" '{format: "yaml", source: $src, rules: $r}')" >/dev/null
template=$(api template.get '{"filter": {"host": "QV WLAN SNMP"}, "selectDiscoveries": ["key_"]}')
echo "try-zabbix: template imported, discovery rules $(jq -c '[.[0].discoveries[].key_]' <<<"$template")"
[ -z "$import_only" ] || exit 0

cat >"$dir/server.conf" <<EOF
DBHost=$db
DBPort=$dbport
DBName=zabbix
DBUser=postgres
LogFile=$dir/server.log
PidFile=$dir/server.pid
SocketDir=$dir
ListenIP=127.0.0.1
ListenPort=$trapper
AllowRoot=1
AllowUnsupportedDBVersions=1
CacheUpdateFrequency=2
EOF
zabbix_server -f -c "$dir/server.conf" >/dev/null 2>&1 &
pids+=($!)

if [ -n "$agent" ]; then
  group=$(api hostgroup.get '{"filter": {"name": "Linux servers"}}' | jq -r '.[0].groupid')
  api host.create "$(jq -cn --arg g "$group" --arg t "$(jq -r '.[0].templateid' <<<"$template")" --arg ip "${agent%:*}" \
    --arg port "${agent##*:}" --arg c "$community" --arg poll "$poll" '{host: "access-point", groups: [{groupid: $g}],
      templates: [{templateid: $t}], macros: [{macro: "{$QV.LLD.INTERVAL}", value: $poll}, {macro: "{$QV.POLL.INTERVAL}", value: $poll}],
      interfaces: [{type: 2, main: 1, useip: 1, ip: $ip, dns: "", port: $port, details: {version: 2, community: $c}}]}')" >/dev/null
  echo "try-zabbix: host access-point polls $agent every $poll"
fi
echo "try-zabbix: API http://127.0.0.1:$web/api_jsonrpc.php (Admin/zabbix), logs in $dir; Ctrl-C to stop"
wait "${pids[@]}"
