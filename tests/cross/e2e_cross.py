"""Every column of every table, byte-exact, from the snmpd the fixture is given
(a target's snmpd under qemu-user: QV_SNMPD, QV_AGENT_WRAPPER), read by the build
machine's client with GETNEXT, GETBULK and GET. The description served by the
simulated data source makes byte-order slips show: 32-bit values with four
different bytes (0x01020304 must arrive as 16909060), negative INTEGERs,
Counter32 values near 2^32, indexes above 255, MACs with a leading zero octet."""
import json
import os
import struct
import sys

from qvagent import SUBTREE, Agent, reference

KEYS = {1: "interfaces", 2: "associations", 3: "radio_stats", 4: "vif_stats", 5: "radio_attributes"}
KIND = {"integer": "INTEGER", "counter32": "Counter32", "ipaddress": "IpAddress", "mac": "Hex-STRING",
        "string": "Hex-STRING"}


def value(kind, t, r, c, room):
    n = 0x01020304 + 0x00010203 * (c - 1) + (0x00100000 * t if c > 1 else 0)
    if kind == "string":
        text = ("abcdefghijklmnopqrstuvwxyz0123456789" * 5)[: room - 1] if (r, c) == (1, 1) else f"t{t}r{r}c{c}"
        return b"" if (r, c) == (1, 2) else text.encode()
    return {"integer": -n if r else n, "counter32": 0xFFFFFFFF - c if r else n,
            "ipaddress": bytes([192, 168, 1, 10] if r == 0 else [10, 0, 255, 1]),
            "mac": bytes([0xA0 * r, 0x11, 0x22 + c, 0x33, 0x44 + t, 0x55])}[kind]


def description():
    """(JSON description for the simulated data source, the same rows as records for
    records_datasource.c, {oid: (type, value)} the agent must answer)."""
    desc, want = {key: [{}, {}] for key in KEYS.values()}, {}
    recs = {t["arc"]: [bytearray(4 + t["size"]) for _ in range(2)] for t in reference("tables")}
    for col in reference("columns"):
        t, c, kind = col["arc"], col["column"], col["value"]
        for r, entry in enumerate(desc[KEYS[t]]):
            v = value(kind, t, r, c, col["room"])
            raw = struct.pack("=i" if kind == "integer" else "=I", v) if isinstance(v, int) else v
            recs[t][r][4 + col["offset"]:4 + col["offset"] + len(raw)] = raw
            entry[col["object"]] = v if isinstance(v, int) else v.decode() if kind == "string" else \
                ".".join(map(str, v)) if kind == "ipaddress" else v.hex(":")
            if t == 2:
                entry.update(first_index=[16909060, 3][r], cursor=40 + r)
                recs[t][r][4:8] = struct.pack("=i", entry["first_index"])
                index = f"{entry['first_index']}.6." + ".".join(str(b) for b in value("mac", t, r, 1, 6))
            else:
                entry["cursor"] = [0, 0x01020304][r] + t
                index = str(entry["cursor"])
            recs[t][r][:4] = struct.pack("=I", entry["cursor"])
            want[f"{SUBTREE}.{t}.1.{c}.{index}"] = (KIND[kind] if v != b"" else "", v)
    records = b"".join(struct.pack("=I", 2) + b"".join(recs[t]) for t in sorted(recs))
    return desc, records, want


def compare(what, got, want):
    bad = [f"{oid}: got {got.get(oid)}, want {w}" for oid, w in sorted(want.items()) if got.get(oid) != w]
    bad += [f"{oid}: unexpected {got[oid]}" for oid in sorted(set(got) - set(want))]
    print(f"{what}: {len(got)} values, {len(bad)} wrong", *bad[:40], sep="\n  ")
    return not bad


def main():
    desc, records, want = description()
    agent = Agent(load=os.environ.get("QV_SIM_LOAD", "dlmod"))
    agent.env["QV_SIM_CONFIG"] = os.path.join(agent.dir, "access-point.json")
    agent.env["QV_RECORDS"] = os.path.join(agent.dir, "access-point.records")
    with open(agent.env["QV_SIM_CONFIG"], "w") as f, open(agent.env["QV_RECORDS"], "wb") as rec:
        json.dump(desc, f)
        rec.write(records)
    rows = {}
    for oid in want:  # one GET per row of a table
        table, _, _, index = oid[len(SUBTREE) + 1:].split(".", 3)
        rows.setdefault((table, index), []).append(oid)
    with agent:
        ok = compare("GETNEXT", agent.walk(bulk=False), want) & compare("GETBULK", agent.walk(), want)
        got = {}
        for oids in rows.values():
            got.update(agent.get(*oids))
        ok &= compare("GET", got, want)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
