#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# A scratch Zabbix 6.0 to try the template on one access point, with nothing
# installed system-wide beyond Debian's packages: a private PostgreSQL cluster,
# the server, and the frontend's API under PHP's built-in web server, all on
# loopback in one folder that is removed on exit. Nothing of it runs as root:
# started by root, every process runs as Debian's zabbix user.
set -euo pipefail

usage() {
  cat <<'EOF_USAGE'
Usage: bash try-zabbix.sh [--agent HOST:PORT] [--v3 USER | --community C]
                          [--poll INTERVAL] [--import-only]

Starts a private Zabbix 6.0 (Debian packages zabbix-server-pgsql,
zabbix-frontend-php, php-pgsql, php-cli, postgresql, jq, curl), imports
qv-wlan-snmp-template.yaml, and with --agent adds that agent as an SNMP host
linked to the template, discovering and polling every INTERVAL (default 10s).
Prints the API address and a random password for the user Admin (shown only
then), and serves until Ctrl-C or SIGTERM. --import-only: stop after the
import.
  --v3 USER      SNMPv3, authPriv, SHA and AES, passphrases from the
                 environment: QV_SNMP_V3_AUTH_PASS, QV_SNMP_V3_PRIV_PASS
  --community C  SNMPv2c with community C (default: public), when no --v3
Run as root, everything runs as the zabbix user; run as any other user,
everything runs as that user.
  e.g. scripts/demo-agent.sh --port 1161 &  then  bash try-zabbix.sh --agent 127.0.0.1:1161
EOF_USAGE
}

here=$(cd "$(dirname "$0")" && pwd)
agent='' community=public v3user='' poll=10s import_only=''
while [ $# -gt 0 ]; do
  case $1 in
    --agent) agent=${2:?--agent needs HOST:PORT}; shift 2 ;;
    --community) community=${2:?}; shift 2 ;;
    --v3) v3user=${2:?--v3 needs a user name}; shift 2 ;;
    --poll) poll=${2:?}; shift 2 ;;
    --import-only) import_only=1; shift ;;
    -h | --help) usage; exit 0 ;;
    *) echo "try-zabbix: unknown option '$1' (try --help)" >&2; exit 2 ;;
  esac
done
if [ -n "$v3user" ]; then
  for v in QV_SNMP_V3_AUTH_PASS QV_SNMP_V3_PRIV_PASS; do
    [ -n "${!v:-}" ] || { echo "try-zabbix: --v3 needs $v in the environment" >&2; exit 2; }
  done
fi
for tool in zabbix_server php psql jq curl /usr/lib/postgresql/15/bin/initdb; do
  command -v "$tool" >/dev/null || { echo "try-zabbix: $tool missing: apt-get install zabbix-server-pgsql zabbix-frontend-php php-pgsql php-cli postgresql jq curl" >&2; exit 2; }
done

# Everything below runs as one unprivileged user ("as"): root hands it to
# Debian's zabbix user (a server and a web frontend as root would give any
# local user who logs in to them root, through Zabbix's scripts).
as=()
if [ "$(id -u)" = 0 ]; then
  getent passwd zabbix >/dev/null || { echo "try-zabbix: no zabbix user (package zabbix-server-pgsql)" >&2; exit 2; }
  as=(setpriv --reuid=zabbix --regid=zabbix --init-groups)
fi

# A free loopback TCP port, below 32768 (the most zabbix_server accepts).
free_port() {
  python3 -c 'import random, socket
for port in random.sample(range(20000, 32768), 200):
    try:
        socket.create_server(("127.0.0.1", port)).close(); print(port); break
    except OSError: pass'
}
# The folder (mode 0700) belongs to that user: the database's socket, the
# configuration and the logs are nobody else's to read.
dir=$(mktemp -d /tmp/qv-zabbix-XXXXXX)
[ ${#as[@]} -eq 0 ] || chown zabbix: "$dir"
cd "$dir" # a folder the user can enter (not root's home)
put() { "${as[@]}" tee "$1" >/dev/null; } # writes stdin to a file of that user
spawn() { # LOG COMMAND...: runs it as that user in the background, output into LOG
  "${as[@]}" sh -c 'log=$1; shift; exec "$@" >"$log" 2>&1' sh "$@" &
  pids+=($!)
}
pids=()
cleanup() {
  trap '' INT TERM # a second signal must not cut the clean-up short
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -e "$dir/pg/postmaster.pid" ] && "${as[@]}" /usr/lib/postgresql/15/bin/pg_ctl -D "$dir/pg" -m fast stop >/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 0' INT TERM

# PostgreSQL on a socket in the folder only; durability is not needed here.
db=$dir/pg dbport=$(free_port) web=$(free_port) trapper=$(free_port)
"${as[@]}" /usr/lib/postgresql/15/bin/initdb -D "$db" --auth=trust -U postgres | put "$dir/initdb.log"
"${as[@]}" /usr/lib/postgresql/15/bin/pg_ctl -D "$db" -w -l "$db/log" \
  -o "-k $db -p $dbport -c listen_addresses='' -c fsync=off -c synchronous_commit=off" start >/dev/null
export PGOPTIONS='-c client_min_messages=error'
psql=("${as[@]}" psql -h "$db" -p "$dbport" -U postgres -q -v ON_ERROR_STOP=1)
"${psql[@]}" -c "create database zabbix encoding 'UTF8' template template0"
for part in schema images data; do
  zcat "/usr/share/zabbix-server-pgsql/$part.sql.gz" | "${psql[@]}" -1 -d zabbix >/dev/null
done
# Admin gets a random password before the frontend answers: the packaged
# default (zabbix) is never valid on the port. Both stay out of argv.
password=$(head -c 18 /dev/urandom | base64)
hash=$(QV_PASSWORD=$password php -r 'echo password_hash(getenv("QV_PASSWORD"), PASSWORD_BCRYPT);')
"${psql[@]}" -d zabbix <<<"update users set passwd = '$hash' where username = 'Admin';"
echo "try-zabbix: database ready"

# A private copy of the frontend, told where its configuration is (Debian's
# build reads it from a fixed path under /etc).
"${as[@]}" cp -r /usr/share/zabbix "$dir/ui"
"${as[@]}" sed -i "s|/etc/zabbix/zabbix.conf.php|$dir/zabbix.conf.php|" "$dir/ui/include/classes/core/CConfigFile.php"
{
  sed -e "s|'MYSQL'|'POSTGRESQL'|" -e "s|'localhost'|'$db'|" -e "s|= '0';|= '$dbport';|" \
    -e "/\$DB\['USER'\]/s|'zabbix'|'postgres'|" "$dir/ui/conf/zabbix.conf.php.example"
  printf "\$ZBX_SERVER = '127.0.0.1';\n\$ZBX_SERVER_PORT = '%s';\n" "$trapper"
} | put "$dir/zabbix.conf.php"
spawn "$dir/php.log" php -S "127.0.0.1:$web" -t "$dir/ui"

api() { # METHOD PARAMS-JSON: prints the result, fails on an API error
  # Parameters (passphrases), the session token and the body go through the
  # environment and stdin: any local user reads every process's arguments.
  QV_PARAMS=$2 QV_TOKEN=${token:-} jq -cn --arg m "$1" \
    '{jsonrpc: "2.0", method: $m, params: ($ENV.QV_PARAMS | fromjson), id: 1} + (if $ENV.QV_TOKEN == "" then {} else {auth: $ENV.QV_TOKEN} end)' |
    curl -sf -m 120 -H 'Content-Type: application/json-rpc' --data-binary @- "http://127.0.0.1:$web/api_jsonrpc.php" |
    jq -ce 'if .error then error(.error | tostring) else .result end'
}
token=''
for _ in $(seq 1 50); do
  token=$(api user.login "$(QV_PASSWORD=$password jq -cn '{username: "Admin", password: $ENV.QV_PASSWORD}')" 2>/dev/null | jq -r .) && break
  sleep 0.2
done
[ -n "$token" ] || { echo "try-zabbix: the frontend API does not answer; $dir/php.log:" >&2; cat "$dir/php.log" >&2; exit 1; }
rules=$(jq -cn '["groups", "templates", "items", "discoveryRules", "triggers"] | map({(.): {createMissing: true, updateExisting: true}}) | add')
api configuration.import "$(jq -cn --rawfile src "$here/qv-wlan-snmp-template.yaml" --argjson r "$rules" '{format: "yaml", source: $src, rules: $r}')" >/dev/null
template=$(api template.get '{"filter": {"host": "QV WLAN SNMP"}, "selectDiscoveries": ["key_"]}')
echo "try-zabbix: template imported, discovery rules $(jq -c '[.[0].discoveries[].key_]' <<<"$template")"
[ -z "$import_only" ] || exit 0

put "$dir/server.conf" <<EOF_CONF
DBHost=$db
DBPort=$dbport
DBName=zabbix
DBUser=postgres
LogFile=$dir/server.log
PidFile=$dir/server.pid
SocketDir=$dir
ListenIP=127.0.0.1
ListenPort=$trapper
AllowRoot=0
AllowUnsupportedDBVersions=1
CacheUpdateFrequency=2
EOF_CONF
spawn /dev/null zabbix_server -f -c "$dir/server.conf"

if [ -n "$agent" ]; then
  group=$(api hostgroup.get '{"filter": {"name": "Linux servers"}}' | jq -r '.[0].groupid')
  # SNMPv3 authPriv with SHA (1) and AES (1), as the agent of docs/install.md wants.
  details='{version: 2, community: $c}' version=v2c
  [ -z "$v3user" ] || details='{version: 3, securityname: $u, securitylevel: 2, authprotocol: 1,
    authpassphrase: $ENV.QV_SNMP_V3_AUTH_PASS, privprotocol: 1, privpassphrase: $ENV.QV_SNMP_V3_PRIV_PASS}' version="v3, user $v3user"
  api host.create "$(jq -cn --arg g "$group" --arg t "$(jq -r '.[0].templateid' <<<"$template")" --arg ip "${agent%:*}" \
    --arg port "${agent##*:}" --arg c "$community" --arg u "$v3user" --arg poll "$poll" '{host: "access-point", groups: [{groupid: $g}],
      templates: [{templateid: $t}], macros: [{macro: "{$QV.LLD.INTERVAL}", value: $poll}, {macro: "{$QV.POLL.INTERVAL}", value: $poll}],
      interfaces: [{type: 2, main: 1, useip: 1, ip: $ip, dns: "", port: $port, details: '"$details"'}]}')" >/dev/null
  echo "try-zabbix: host access-point polls $agent (SNMP $version) every $poll"
fi
echo "try-zabbix: API http://127.0.0.1:$web/api_jsonrpc.php, user Admin, password $password (shown only here)"
echo "try-zabbix: logs in $dir; Ctrl-C to stop"
wait "${pids[@]}"
