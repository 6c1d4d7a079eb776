#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
# A real Zabbix 6.0 (monitoring/zabbix/try-zabbix.sh: Debian's server, PostgreSQL,
# the frontend's API under PHP's built-in server) with the template polls the
# demo agent as an SNMP host: items of each discovery rule must receive values.
import json, os, re, subprocess, sys, time, urllib.request  # noqa: E401
from qvagent import Agent

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "monitoring", "zabbix", "try-zabbix.sh")
RULES = ("qv.if.discovery", "qv.radio.discovery", "qv.client.discovery")


def api(url, method, params, token=None):
    req = json.dumps({"jsonrpc": "2.0", "method": method, "params": params, "id": 1, **({"auth": token} if token else {})})
    answer = json.load(urllib.request.urlopen(urllib.request.Request(url, req.encode(), {"Content-Type": "application/json-rpc"}), timeout=60))
    return sys.exit(f"{method}: {answer['error']}") if "error" in answer else answer["result"]


def main():
    if not os.environ.get("QV_ZABBIX_POLL"):
        print("on demand only: QV_ZABBIX_POLL=1 ctest -R monitoring.zabbix.poll")
        return 77
    with Agent() as agent:
        proc = subprocess.Popen([SCRIPT, "--agent", f"127.0.0.1:{agent.port}", "--poll", "5s"], stdout=subprocess.PIPE, text=True)
        try:
            url = next((m.group(1) for line in proc.stdout if print(line, end="") or (m := re.search(r"API (\S+)", line))), None)
            token = api(url, "user.login", {"username": "Admin", "password": "zabbix"})
            deadline, fed = time.monotonic() + 300, {}
            while time.monotonic() < deadline and len(fed) < len(RULES):
                time.sleep(5)
                items = api(url, "item.get", {"host": "access-point", "output": ["key_", "lastvalue", "lastclock", "error"],
                                              "selectDiscoveryRule": ["key_"]}, token)
                fed.update({i["discoveryRule"]["key_"]: i["key_"] for i in items if i.get("discoveryRule") and i["lastclock"] != "0"})
            print(f"{len(items)} items; with values, one per discovery rule: {fed}")
            print("\n".join(f"{i['key_']}: {i['error']}" for i in items if i["error"])[:3000])
            return 0 if len(fed) == len(RULES) else 1
        finally:
            proc.terminate()
            proc.wait(60)


if __name__ == "__main__":
    sys.exit(main())
