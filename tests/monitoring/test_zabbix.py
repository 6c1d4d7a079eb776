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


def services(folder):  # {(name, real uid)} of the services started on the scratch folder
    ps = [line.split(None, 2) for line in subprocess.run(["ps", "-eo", "ruid=,comm=,args="], capture_output=True, text=True).stdout.splitlines()]
    return {(name, int(uid)) for uid, name, args in ps if name in SERVICES and folder in args}


def poll(url, token):
    deadline, fed = time.monotonic() + 300, {}
    while time.monotonic() < deadline and len(fed) < len(RULES):
        time.sleep(5)
        items = api(url, "item.get", {"host": "access-point", "output": ["key_", "lastclock", "error"], "selectDiscoveryRule": ["key_"]}, token)["result"]
        fed.update({i["discoveryRule"]["key_"]: i["key_"] for i in items if i.get("discoveryRule") and i["lastclock"] != "0"})
    print(f"{len(items)} items; with values, one per discovery rule: {fed}\n" + "\n".join(f"{i['key_']}: {i['error']}" for i in items if i["error"])[:3000])
    return [] if len(fed) == len(RULES) else ["not every discovery rule's items received values"]


def run(agent):
    args = ["--agent", f"127.0.0.1:{agent.port}", "--v3", V3_USER, "--poll", "5s"] if agent else []
    proc = subprocess.Popen(["bash", SCRIPT, *args], stdout=subprocess.PIPE, text=True,
                            env={**os.environ, "QV_SNMP_V3_AUTH_PASS": V3_AUTH, "QV_SNMP_V3_PRIV_PASS": V3_PRIV})
    try:
        out = ""
        for line in proc.stdout:
            print(line, end="")
            out += line
            if folder := re.search(r"logs in (\S+);", line):
                break
        rules, url, password = re.search(r"discovery rules (\[.*\])\n(?:.*\n)*?.*API (\S+), user Admin, password (\S+)", out).groups()
        for _ in range(40):  # the server starts last
            if (found := services(folder.group(1))) and {n for n, _ in found} == SERVICES:
                break
            time.sleep(0.5)
        print("services (name, uid):", sorted(found))
        errors = [f"{name} runs as root" for name, uid in found if uid == 0] + [f"no {n}" for n in SERVICES - {n for n, _ in found}]
        errors += ["Admin/zabbix logs in"] if "result" in api(url, "user.login", {"username": "Admin", "password": "zabbix"}) else []
        errors += [f"discovery rules {rules}"] if set(json.loads(rules)) != RULES else []
        token = api(url, "user.login", {"username": "Admin", "password": password})["result"]
        return errors + (poll(url, token) if agent else [])
    finally:
        proc.terminate()
        proc.wait(60)


def main():
    if "--poll" in sys.argv and not os.environ.get("QV_ZABBIX_POLL"):
        print("on demand only: QV_ZABBIX_POLL=1 ctest -R monitoring.zabbix.poll")
        return 77
    with Agent() if "--poll" in sys.argv else open(os.devnull) as agent:
        errors = run(agent if "--poll" in sys.argv else None)
    print("\n".join(errors) or "ok")
    return int(bool(errors))


if __name__ == "__main__":
    sys.exit(main())
