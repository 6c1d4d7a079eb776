#!/usr/bin/env python3
"""monitoring/snmp.yml is what Debian's prometheus-snmp-generator makes of
monitoring/generator.yml and QV-WLAN-MIB today, with no MIB parse errors, and
it types the association index so that its length octet is read."""

import os
import subprocess
import sys
import tempfile

import yaml

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "mib"))
import qvargs  # noqa: E402
from qvsnmp import mib_env, run  # noqa: E402


def main():
    a = qvargs.parse()
    env = mib_env(a.base_mib_dir, a.mib_dir)
    with tempfile.TemporaryDirectory() as d:
        out = os.path.join(d, "snmp.yml")
        p = subprocess.run(["prometheus-snmp-generator", "--fail-on-parse-errors", "generate", "-o", out],
                           cwd=a.monitoring_dir, env=env, capture_output=True, text=True, timeout=120)
        if p.returncode != 0:
            print("generator failed:", p.stdout, p.stderr)
            return 1
        with open(out) as f:
            generated = f.read()
    with open(os.path.join(a.monitoring_dir, "snmp.yml")) as f:
        committed = f.read()
    if generated != committed:
        print("monitoring/snmp.yml is out of date: regenerate it from generator.yml (see its header)")
        import difflib
        sys.stdout.writelines(list(difflib.unified_diff(committed.splitlines(True), generated.splitlines(True),
                                                         "committed", "generated"))[:80])
        return 1

    cfg = yaml.safe_load(committed)
    failures = []
    for mod in ("qv_wlan", "qv_wlan_v3"):
        metrics = {m["name"]: m for m in cfg[mod]["metrics"]}
        rssi = metrics.get("qvClientRSSI")
        if not rssi:
            failures.append(f"{mod}: no qvClientRSSI")
            continue
        idx = {i["labelname"]: i["type"] for i in rssi["indexes"]}
        if idx.get("qvAssociationClientMacIndex") != "OctetString":
            failures.append(f"{mod}: the MAC index is typed {idx.get('qvAssociationClientMacIndex')}, "
                            "which would misread its length octet")
        for name in ("qvXIfIndex", "qvAssociationIndex", "qvAssociationClientMacIndex"):
            if name in metrics:
                failures.append(f"{mod}: not-accessible {name} became a metric")
    if cfg["qv_wlan_v3"]["auth"].get("security_level") != "authPriv":
        failures.append("qv_wlan_v3 must use authPriv")
    if failures:
        print("\n".join(failures))
        return 1
    print("snmp.yml is up to date")
    return 0


if __name__ == "__main__":
    sys.exit(main())
