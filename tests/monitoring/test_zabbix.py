#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
# A real Zabbix 6.0 (monitoring/zabbix/try-zabbix.sh: Debian's server, PostgreSQL,
# the frontend's API under PHP's built-in server) imports the template with its
# three discovery rules; none of its processes runs as root, and only the random
# Admin password it prints logs in. With --poll it polls the demo agent over
# SNMPv3 as an SNMP host: items of each discovery rule must receive values.
import json, os, re, subprocess, sys, time, urllib.request  # noqa: E401
from qvagent import V3_AUTH, V3_PRIV, V3_USER, Agent

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "monitoring", "zabbix", "try-zabbix.sh")
RULES = {"qv.if.discovery", "qv.radio.discovery", "qv.client.discovery"}


def api(url, method, params, token=None):
    req = json.dumps({"jsonrpc": "2.0", "method": method, "params": params, "id": 1, **({"auth": token} if token else {})})
    answer = json.load(urllib.request.urlopen(urllib.request.Request(url, req.encode(), {"Content-Type": "application/json-rpc"}), timeout=60))
    if "error" in answer:
        raise RuntimeError(f"{method}: {answer['error']}")
    return answer["result"]


def processes(script, folder):
    # The script's descendants and whatever works in its folder (PostgreSQL
    # detaches): {pid: (command, real uid)}.
    found, parents = {}, {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            status = dict(line.split(":", 1) for line in open(f"/proc/{pid}/status"))
            parents[int(pid)] = int(status["PPid"])
            if int(pid) != script:
                found[int(pid)] = (status["Name"].strip(), int(status["Uid"].split()[0]), os.readlink(f"/proc/{pid}/cwd"))
        except OSError:
            pass

    def under(pid):
        return pid == script or pid in parents and pid > 1 and under(parents[pid])
    return {p: v[:2] for p, v in found.items() if under(p) or v[2].startswith(folder)}


def check(url, password, folder, proc):
    for _ in range(40):  # the server starts after the line
        procs = processes(proc.pid, folder)
        if {"php", "postgres", "zabbix_server"} <= {name for name, _ in procs.values()}:
            break
        time.sleep(0.5)
    print("processes:", sorted(set(procs.values())))
    names = {name for name, _ in procs.values()}
    errors = [f"{name} (pid {p}) runs as root" for p, (name, uid) in procs.items() if uid == 0]
    errors += [f"no {n} process found" for n in ("php", "postgres", "zabbix_server") if n not in names]
    try:
        api(url, "user.login", {"username": "Admin", "password": "zabbix"})
        errors.append("Admin/zabbix still logs in")
    except RuntimeError:
        pass
    token = api(url, "user.login", {"username": "Admin", "password": password})
    found = {d["key_"] for d in api(url, "template.get", {"filter": {"host": "QV WLAN SNMP"}, "selectDiscoveries": ["key_"]}, token)[0]["discoveries"]}
    errors += [f"discovery rules {sorted(found)}"] if found != RULES else []
    return errors, token


def poll(url, token):
    deadline, fed = time.monotonic() + 300, {}
    while time.monotonic() < deadline and len(fed) < len(RULES):
        time.sleep(5)
        items = api(url, "item.get", {"host": "access-point", "output": ["key_", "lastvalue", "lastclock", "error"],
                                      "selectDiscoveryRule": ["key_"]}, token)
        fed.update({i["discoveryRule"]["key_"]: i["key_"] for i in items if i.get("discoveryRule") and i["lastclock"] != "0"})
    print(f"{len(items)} items; with values, one per discovery rule: {fed}")
    print("\n".join(f"{i['key_']}: {i['error']}" for i in items if i["error"])[:3000])
    return [] if len(fed) == len(RULES) else ["not every discovery rule's items received values"]


def run(agent=None):
    args = ["--agent", f"127.0.0.1:{agent.port}", "--v3", V3_USER, "--poll", "5s"] if agent else []
    env = {**os.environ, "QV_SNMP_V3_AUTH_PASS": V3_AUTH, "QV_SNMP_V3_PRIV_PASS": V3_PRIV}
    proc = subprocess.Popen(["bash", SCRIPT, *args], stdout=subprocess.PIPE, text=True, env=env)
    try:
        url = password = None
        for line in proc.stdout:
            print(line, end="")
            if m := re.search(r"API (\S+), user Admin, password (\S+)", line):
                url, password = m.groups()
            elif m := re.search(r"logs in (\S+);", line):
                errors, token = check(url, password, m.group(1), proc)
                return errors + (poll(url, token) if agent else [])
        return ["try-zabbix.sh ended before serving"]
    finally:
        proc.terminate()
        proc.wait(60)


def main():
    if "--poll" not in sys.argv:
        errors = run()
    elif not os.environ.get("QV_ZABBIX_POLL"):
        print("on demand only: QV_ZABBIX_POLL=1 ctest -R monitoring.zabbix.poll")
        return 77
    else:
        with Agent() as agent:
            errors = run(agent)
    print("\n".join(errors) or "ok")
    return int(bool(errors))


if __name__ == "__main__":
    sys.exit(main())
