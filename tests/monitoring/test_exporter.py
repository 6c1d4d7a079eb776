#!/usr/bin/env python3
"""Debian's prometheus-snmp-exporter with monitoring/snmp.yml, scraping a real
snmpd with the module on loopback: every served value appears as a metric
sample with the same value, under the right labels, with counters as
counters and Integer32 columns as gauges."""

import os
import re
import sys

import yaml

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "mib"))
import qvargs  # noqa: E402
from qvsnmp import SUBTREE, Agent, exporter_scrape, run, sim_env, v2c_conf, check, failures  # noqa: E402


def parse_scrape(text):
    """{name: [(labels dict, value)]}, {name: type}"""
    samples, types = {}, {}
    for line in text.splitlines():
        if line.startswith("# TYPE "):
            _, _, name, typ = line.split()
            types[name] = typ
            continue
        if not line or line.startswith("#"):
            continue
        m = re.match(r"^(\w+)(?:\{(.*)\})? (\S+)$", line)
        if not m:
            failures.append(f"unparsable line {line}")
            continue
        labels = dict(re.findall(r'(\w+)="((?:[^"\\]|\\.)*)"', m.group(2) or ""))
        samples.setdefault(m.group(1), []).append((labels, float(m.group(3))))
    return samples, types


def raw_walk(target):
    """{oid: (type, value)} of the served subtree, numeric."""
    out = run(["snmpwalk", "-On", "-Oe", "-Ox", "-v2c", "-c", "public", "-r", "1", "-t", "3", target, SUBTREE],
              env={"PATH": os.environ["PATH"], "MIBS": "", "MIBDIRS": "/nonexistent"}).stdout
    vals = {}
    for line in out.splitlines():
        m = re.match(r'^(\S+) = (?:([\w-]+): )?(.*)$', line)
        vals[m.group(1)] = (m.group(2) or "STRING", m.group(3))
    return vals


def served_text(served, oid):
    typ, raw = served.get(oid, ("STRING", '""'))
    return bytes.fromhex("".join(raw.split())).decode() if typ == "Hex-STRING" else raw.strip('"')


def instance_suffix(metric, labels):
    """The index part of the OID, rebuilt from the sample's index labels."""
    parts = []
    for idx in metric["indexes"]:
        v = labels[idx["labelname"]]
        if idx["type"] == "OctetString":
            octets = bytes.fromhex(v[2:]) if v.startswith("0x") else b""
            parts += [str(len(octets))] + [str(o) for o in octets]
        else:
            parts.append(v)
    return ".".join(parts)


def main():
    a = qvargs.parse()
    snmp_yml = os.path.join(a.monitoring_dir, "snmp.yml")
    with open(snmp_yml) as f:
        cfg = yaml.safe_load(f)
    metrics = {m["name"]: m for m in cfg["qv_wlan"]["metrics"]}

    with Agent(v2c_conf(a.module), preload=a.datasource, env=sim_env(a)) as agent:
        served = raw_walk(agent.target)
        body = exporter_scrape(snmp_yml, "qv_wlan", agent.port, agent.dir)

    samples, types = parse_scrape(body)
    check("snmp_scrape_duration_seconds" in samples, "no snmp_scrape_duration_seconds")

    # Every served instance has its sample with the same value, and no sample
    # is without a served instance.
    seen = set()
    for name, m in metrics.items():
        if not m["oid"].startswith(SUBTREE[1:]):
            continue
        for labels, value in samples.get(name, []):
            oid = f".{m['oid']}.{instance_suffix(m, labels)}"
            seen.add(oid)
            if oid not in served:
                failures.append(f"{name}{labels}: no served instance {oid}")
                continue
            typ, raw = served[oid]
            if typ in ("INTEGER", "Counter32"):
                check(value == float(int(raw)), f"{name}{labels} = {value}, served {raw}")
            elif typ == "IpAddress":
                check(labels.get(name) == raw, f"{name} label {labels.get(name)}, served {raw}")
            elif typ in ("STRING", "Hex-STRING") and m["type"] == "PhysAddress48":
                want = ":".join(raw.split()).upper()
                check(labels.get(name) == want, f"{name} label {labels.get(name)}, served {raw}")
            elif typ in ("STRING", "Hex-STRING"):
                text = served_text(served, oid)
                check(labels.get(name) == text, f"{name} label {labels.get(name)!r}, served {raw!r}")
        if name in samples:
            want_type = {"counter": "counter", "gauge": "gauge"}.get(m["type"], "gauge")
            check(types.get(name) == want_type, f"{name} is a {types.get(name)}, expected {want_type}")
    for oid in served:
        check(oid in seen, f"served {oid} has no metric sample")

    # The counters are counters, the Integer32 columns gauges.
    check(types.get("qvClientRxDataFrames") == "counter", "qvClientRxDataFrames must be a counter")
    check(types.get("qvRadioTxAirtime") == "counter", "qvRadioTxAirtime must be a counter")
    check(types.get("qvClientRSSI") == "gauge", "qvClientRSSI must be a gauge")
    check(types.get("qvRadioNoiseFloor") == "gauge", "qvRadioNoiseFloor must be a gauge")

    # The documented example client, with readable labels on every client row.
    rssi = [l for l, _v in samples.get("qvClientRSSI", [])
            if l.get("qvAssociationIndex") == "3" and l.get("qvClientMac") == "00:11:22:33:44:55"]
    check(len(rssi) == 1, "qvClientRSSI has no sample for first index 3, client 00:11:22:33:44:55")
    if rssi:
        check(rssi[0].get("qvAssociationClientMacIndex") == "0x001122334455",
              f"raw MAC index label {rssi[0].get('qvAssociationClientMacIndex')}")
        ssid_oid = f"{SUBTREE}.2.1.10.3.6.0.17.34.51.68.85"
        check(rssi[0].get("qvClientSSID") == served_text(served, ssid_oid) != "",
              f"qvClientSSID label {rssi[0].get('qvClientSSID')}")
    for labels, _v in samples.get("qvClientRxDataFrames", []):
        check(re.fullmatch(r"([0-9A-F]{2}:){5}[0-9A-F]{2}", labels.get("qvClientMac", "")) is not None,
              f"qvClientMac label {labels.get('qvClientMac')}")
    for labels, _v in samples.get("qvIfMode", []):
        check(labels.get("qvIfName"), f"qvIfMode sample without qvIfName label: {labels}")

    if failures:
        print("\n".join(failures[:50]))
        return 1
    print(f"{len(seen)} served values match their metric samples")
    return 0


if __name__ == "__main__":
    sys.exit(main())
