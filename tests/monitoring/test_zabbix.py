#!/usr/bin/env python3
# Zabbix 6.0 from Debian (server on a private PostgreSQL cluster, the frontend's
# API under PHP's built-in server) imports monitoring/zabbix's template, polls
# the demo agent as an SNMP host, and items from every discovery rule receive
# values. Argument "import": stop once the template is imported (the CI smoke).
import gzip, json, os, shutil, subprocess, sys, tempfile, time, urllib.request  # noqa: E401
from qvagent import Agent, free_port

TEMPLATE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../monitoring/zabbix/qv-wlan-snmp-template.yaml")
T0 = time.monotonic()
PG = ["runuser", "-u", "postgres", "--", "/usr/lib/postgresql/15/bin/"]


def run(*cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, text=True, **kw)


def api(port, method, params, token=None):
    req = {"jsonrpc": "2.0", "method": method, "params": params, "id": 1, **({"auth": token} if token else {})}
    body = urllib.request.urlopen(urllib.request.Request(f"http://127.0.0.1:{port}/api_jsonrpc.php", json.dumps(req).encode(),
                                                         {"Content-Type": "application/json-rpc"}), timeout=60).read()
    answer = json.loads(body)
    if "error" in answer:
        sys.exit(f"{method}: {answer['error']}")
    return answer["result"]


def main(tmp, procs):
    db, dbport, web, trapper = f"{tmp}/pg", free_port(1), free_port(1), free_port(1)
    os.makedirs(db)
    shutil.chown(db, "postgres")
    run(*PG[:-1], PG[-1] + "initdb", "-D", db, "--auth=trust", "-U", "postgres")
    run(*PG[:-1], PG[-1] + "pg_ctl", "-D", db, "-w", "-l", f"{db}/log", "-o", f"-k {db} -p {dbport} -c listen_addresses='' -c fsync=off -c synchronous_commit=off", "start")
    procs.append(lambda: run(*PG[:-1], PG[-1] + "pg_ctl", "-D", db, "-m", "fast", "stop"))
    psql = ["psql", "-h", db, "-p", str(dbport), "-U", "postgres", "-q", "-v", "ON_ERROR_STOP=1"]
    run(*psql, "-c", "create database zabbix encoding 'UTF8' template template0")
    for part in ("schema", "images", "data"):
        print(f"{time.monotonic() - T0:.0f} s: {part}", flush=True)
        run(*psql, "-1", "-d", "zabbix", input=gzip.open(f"/usr/share/zabbix-server-pgsql/{part}.sql.gz", "rt").read())
    shutil.copytree("/usr/share/zabbix", f"{tmp}/ui")  # a private copy, told where its configuration is
    run("sed", "-i", f"s|/etc/zabbix/zabbix.conf.php|{tmp}/ui/conf/zabbix.conf.php|", f"{tmp}/ui/include/classes/core/CConfigFile.php")
    with open(f"{tmp}/ui/conf/zabbix.conf.php", "w") as f:
        f.write(open(f"{tmp}/ui/conf/zabbix.conf.php.example").read().replace("'MYSQL'", "'POSTGRESQL'")
                .replace("'localhost'", repr(db)).replace("= '0'", f"= '{dbport}'").replace("'zabbix';\n$DB['PASSWORD']", "'postgres';\n$DB['PASSWORD']")
                + f"$ZBX_SERVER = '127.0.0.1';\n$ZBX_SERVER_PORT = '{trapper}';\n")
    php = subprocess.Popen(["php", "-S", f"127.0.0.1:{web}", "-t", f"{tmp}/ui"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    procs.append(php.kill)
    token = next((t for _ in range(50) for t in [try_login(web)] if t), None) or sys.exit("frontend API did not answer")
    groups = {g: {"createMissing": True, "updateExisting": True} for g in ("groups", "templates", "items", "discoveryRules", "triggers")}
    api(web, "configuration.import", {"format": "yaml", "source": open(TEMPLATE).read(), "rules": groups}, token)
    template = api(web, "template.get", {"filter": {"host": "QV WLAN SNMP"}, "selectDiscoveries": ["key_"]}, token)[0]
    print(f"{time.monotonic() - T0:.0f} s: imported; discovery rules:", [d["key_"] for d in template["discoveries"]])
    if sys.argv[1:] == ["import"]:
        return 0
    with open(f"{tmp}/server.conf", "w") as f:
        f.write(f"DBHost={db}\nDBPort={dbport}\nDBName=zabbix\nDBUser=postgres\nLogFile={tmp}/server.log\nPidFile={tmp}/server.pid\n"
                f"SocketDir={tmp}\nListenPort={trapper}\nAllowRoot=1\nAllowUnsupportedDBVersions=1\nCacheUpdateFrequency=2\n")
    server = subprocess.Popen(["zabbix_server", "-f", "-c", f"{tmp}/server.conf"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    procs.append(server.terminate)
    with Agent() as agent:
        group = api(web, "hostgroup.get", {"filter": {"name": "Linux servers"}}, token)[0]["groupid"]
        api(web, "host.create", {"host": "demo-ap", "groups": [{"groupid": group}], "templates": [{"templateid": template["templateid"]}],
                                 "interfaces": [{"type": 2, "main": 1, "useip": 1, "ip": "127.0.0.1", "dns": "", "port": str(agent.port),
                                                 "details": {"version": 2, "community": "public"}}],
                                 "macros": [{"macro": "{$QV.LLD.INTERVAL}", "value": "5s"}, {"macro": "{$QV.POLL.INTERVAL}", "value": "5s"}]}, token)
        deadline, fed = time.monotonic() + 240, {}
        while time.monotonic() < deadline and len(fed) < 3:
            time.sleep(5)
            for item in api(web, "item.get", {"host": "demo-ap", "filter": {"flags": 4}, "output": ["key_", "lastclock", "error"]}, token):
                if item["lastclock"] != "0":
                    fed.setdefault(item["key_"].split(".")[1], item["key_"])
        items = api(web, "item.get", {"host": "demo-ap", "output": ["key_", "lastvalue", "error"]}, token)
    print(f"{time.monotonic() - T0:.0f} s: {len(items)} items; with values from each rule: {fed}")
    print("\n".join(f"{i['key_']}: {i['error']}" for i in items if i["error"])[:3000])
    return 0 if len(fed) == 3 else 1


def try_login(web):
    try:
        return api(web, "user.login", {"username": "Admin", "password": "zabbix"})
    except OSError:
        time.sleep(0.2)


if __name__ == "__main__":
    tmp, stops = tempfile.mkdtemp(prefix="qv-zabbix-"), []
    os.chmod(tmp, 0o755)
    try:
        sys.exit(main(tmp, stops))
    finally:
        for stop in reversed(stops):
            stop()
        shutil.rmtree(tmp, ignore_errors=True)
