#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
# A real Zabbix 6.0 (monitoring/zabbix/try-zabbix.sh: Debian's server, PostgreSQL,
# the frontend's API under PHP's built-in server) imports the template with its
# three discovery rules, runs none of its services as root, and lets in only the
# random Admin password it prints. With --poll it polls the demo agent over
# SNMPv3 as an SNMP host: items of each discovery rule must receive values.
import json, os, re, subprocess, sys, time, urllib.request  # noqa: E401
from qvagent import V3_AUTH, V3_PRIV, V3_USER, Agent

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "monitoring", "zabbix", "try-zabbix.sh")
RULES, SERVICES = {"qv.if.discovery", "qv.radio.discovery", "qv.client.discovery"}, {"php", "postgres", "zabbix_server"}


def api(url, method, params, token=None):  # the answer: result or error
    req = json.dumps({"jsonrpc": "2.0", "method": method, "params": params, "id": 1, **({"auth": token} if token else {})})
    return json.load(urllib.request.urlopen(urllib.request.Request(url, req.encode(), {"Content-Type": "application/json-rpc"}), timeout=60))


def services(folder):  # [(name, real uid)] of the services working in the scratch folder
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink(f"/proc/{pid}/cwd").startswith(folder):
                status = dict(line.split(":", 1) for line in open(f"/proc/{pid}/status"))
                found += [(status["Name"].strip(), int(status["Uid"].split()[0]))] if status["Name"].strip() in SERVICES else []
        except OSError:
            pass
    return found


def check(url, password, folder):
    for _ in range(40):  # the server starts after the line
        found = services(folder)
        if {name for name, _ in found} == SERVICES:
            break
        time.sleep(0.5)
    print("services (name, uid):", sorted(set(found)))
    errors = [f"{name} runs as root" for name, uid in set(found) if uid == 0] + [f"no {n} found" for n in SERVICES - {n for n, _ in found}]
    errors += ["Admin/zabbix still logs in"] if "result" in api(url, "user.login", {"username": "Admin", "password": "zabbix"}) else []
    token = api(url, "user.login", {"username": "Admin", "password": password})["result"]
    found = api(url, "template.get", {"filter": {"host": "QV WLAN SNMP"}, "selectDiscoveries": ["key_"]}, token)["result"]
    return errors + ([] if {d["key_"] for d in found[0]["discoveries"]} == RULES else [f"discovery rules: {found}"]), token


def poll(url, token):
    deadline, fed = time.monotonic() + 300, {}
    while time.monotonic() < deadline and len(fed) < len(RULES):
        time.sleep(5)
        items = api(url, "item.get", {"host": "access-point", "output": ["key_", "lastvalue", "lastclock", "error"],
                                      "selectDiscoveryRule": ["key_"]}, token)["result"]
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
            url, password = re.search(r"API (\S+), user Admin, password (\S+)", line).groups() if "API" in line else (url, password)
            if m := re.search(r"logs in (\S+);", line):
                errors, token = check(url, password, m.group(1))
                return errors + (poll(url, token) if agent else [])
        return ["try-zabbix.sh ended before serving"]
    finally:
        proc.terminate()
        proc.wait(60)


def main():
    if "--poll" in sys.argv and not os.environ.get("QV_ZABBIX_POLL"):
        print("on demand only: QV_ZABBIX_POLL=1 ctest -R monitoring.zabbix.poll")
        return 77
    if "--poll" in sys.argv:
        with Agent() as agent:
            errors = run(agent)
    else:
        errors = run()
    print("\n".join(errors) or "ok")
    return int(bool(errors))


if __name__ == "__main__":
    sys.exit(main())
